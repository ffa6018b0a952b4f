#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "inputs.h"

namespace tool {

namespace {

// The mode a file at `path` gets: an existing file's own, otherwise what
// creating it would give under the umask.
mode_t mode_for(const struct stat *existing)
{
    if (existing) return existing->st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

OutputFile::OutputFile(const std::string &flag, const std::string &path, Writing writing) : flag_(flag), path_(path)
{
    // A link is followed, so that the file it leads to is replaced, not it.
    char resolved[PATH_MAX];
    const std::string target = realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    struct stat status {};
    const bool exists = stat(target.c_str(), &status) == 0;
    if (writing != Writing::replace || (exists && !S_ISREG(status.st_mode))) {
        began_empty_ = writing != Writing::append || !exists || status.st_size == 0;
        file_ = std::fopen(path.c_str(), writing == Writing::append ? "a" : "w");
        if (!file_) throw InputError(failure());
        return;
    }
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
    const int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) throw InputError(failure());
    temporary_ = pattern;
    target_ = target;
    if (fchmod(descriptor, mode_for(exists ? &status : nullptr)) != 0 || !(file_ = fdopen(descriptor, "w"))) {
        const int error = errno;
        close(descriptor);
        std::remove(temporary_.c_str());
        errno = error;
        throw InputError(failure());
    }
}

OutputFile::~OutputFile() { close_and_remove(); }

std::string OutputFile::failure() const { return flag_ + ": cannot write '" + path_ + "': " + std::strerror(errno); }

void OutputFile::commit()
{
    // Synced before the rename, so that a crash cannot leave an empty file
    // in the place of the old one.
    int error = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_)) error = errno != 0 ? errno : EIO;
    else if (!temporary_.empty() && fsync(fileno(file_)) != 0) error = errno;
    if (std::fclose(file_) != 0 && error == 0) error = errno;
    file_ = nullptr;
    if (error == 0 && !temporary_.empty() && std::rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
    if (error == 0) {
        temporary_.clear();
        return;
    }
    errno = error;
    const std::string message = failure();
    close_and_remove();
    throw std::runtime_error(message);
}

void OutputFile::close_and_remove()
{
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty()) std::remove(temporary_.c_str());
    temporary_.clear();
}

}  // namespace tool
