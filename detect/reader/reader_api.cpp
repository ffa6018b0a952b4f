// The C entries of the reader and the writer: thin wrappers that turn
// failures into codes and messages.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "miniseed.h"
#include "onset_detect.h"
#include "readable_text.h"
#include "reader_handle.h"

struct onset_writer {
    reading::RecordWriter writer;
    int failure = 0;
    std::string reason;
};

namespace {

// Messages name files, whose names need not be UTF-8; one cut short ends
// before a character, not inside one.
void copy_message(const std::string &text, char *message, size_t size)
{
    if (!message || size == 0) return;
    const std::string readable = reading::readable_text(text);
    size_t length = std::min(readable.size(), size - 1);
    while (length > 0 && length < readable.size() && (static_cast<unsigned char>(readable[length]) & 0xC0) == 0x80)
        --length;
    std::memcpy(message, readable.data(), length);
    message[length] = '\0';
}

// Runs `call`; a failure becomes its code and the reader's message.
template <class Call>
int guarded(onset_reader *handle, Call call)
{
    try {
        call();
        return 0;
    } catch (const std::bad_alloc &) {
        handle->message = "out of memory";
        return ONSET_DETECT_NO_MEMORY;
    } catch (const std::exception &error) {
        handle->message = reading::readable_text(error.what());
        return ONSET_DETECT_IO;
    }
}

// A reader made by `make`, or nullptr with the reason.
template <class Make>
onset_reader *open_reader(int64_t start, int64_t end, char *message, size_t size, Make make)
{
    if (start >= end) {
        copy_message("the time span is empty: start must be before end", message, size);
        return nullptr;
    }
    try {
        auto handle = std::make_unique<onset_reader>();
        handle->reader = make();
        return handle.release();
    } catch (const std::bad_alloc &) {
        copy_message("out of memory", message, size);
    } catch (const std::exception &error) {
        copy_message(error.what(), message, size);
    }
    return nullptr;
}

}  // namespace

extern "C" {

onset_reader *onset_reader_open(const char *const *paths, size_t path_count, const char *channels, int64_t start,
                                int64_t end, char *message, size_t message_size)
{
    return open_reader(start, end, message, message_size, [&] {
        if (!paths && path_count > 0) throw std::invalid_argument("no paths given");
        std::vector<std::string> named;
        for (size_t i = 0; i < path_count; ++i) {
            if (!paths[i]) throw std::invalid_argument("path " + std::to_string(i) + " is NULL");
            named.emplace_back(paths[i]);
        }
        return std::make_unique<reading::Reader>(named, channels ? channels : "", start, end);
    });
}

onset_reader *onset_reader_open_sds(const char *root, const char *channels, int64_t start, int64_t end,
                                    char *message, size_t message_size)
{
    return open_reader(start, end, message, message_size, [&] {
        return std::make_unique<reading::Reader>(std::string(root ? root : ""), channels ? channels : "", start,
                                                 end);
    });
}

void onset_reader_close(onset_reader *reader) { delete reader; }

const char *onset_reader_message(const onset_reader *reader) { return reader ? reader->message.c_str() : "no reader"; }

void onset_reader_span(const onset_reader *reader, int64_t *begin, int64_t *end)
{
    if (begin) *begin = reader ? reader->reader->begin() : 0;
    if (end) *end = reader ? reader->reader->end() : 0;
}

int onset_reader_next_chunk(onset_reader *reader, int64_t until, onset_chunk *chunk)
{
    if (!reader) return ONSET_DETECT_INVALID;
    if (!chunk) {
        reader->message = "no chunk given";
        return ONSET_DETECT_INVALID;
    }
    reading::Chunk next{};
    bool found = false;
    const int status = guarded(reader, [&] { found = reader->reader->next_chunk(until, next); });
    if (status != 0) return status;
    if (!found) return 0;
    *chunk = {next.id->c_str(), next.rate, next.start, next.samples->data(), next.samples->size()};
    return 1;
}

void onset_reader_finish(onset_reader *reader)
{
    if (reader) reader->reader->finish();
}

const char *onset_reader_next_warning(onset_reader *reader)
{
    if (!reader) return nullptr;
    return reader->reader->warnings().take(reader->warning) ? reader->warning.c_str() : nullptr;
}

onset_writer *onset_writer_open(const char *path, const char *id, double rate, char *message, size_t message_size)
{
    if (!path || !id || !(rate > 0.0 && rate <= 1e6)) {
        copy_message(!path ? "no path given" : !id ? "no channel id given" : "the rate must be above 0 and at most 1 MHz",
                     message, message_size);
        return nullptr;
    }
    try {
        return new onset_writer{reading::RecordWriter(path, id, rate), 0, {}};
    } catch (const std::bad_alloc &) {
        copy_message("out of memory", message, message_size);
    } catch (const std::exception &error) {
        copy_message(error.what(), message, message_size);
    }
    return nullptr;
}

int onset_writer_write(onset_writer *writer, int64_t start, const int32_t *counts, size_t count)
{
    if (!writer || (!counts && count > 0)) return ONSET_DETECT_INVALID;
    if (writer->failure != 0) return writer->failure;
    try {
        writer->writer.write(start, counts, count);
    } catch (const std::bad_alloc &) {
        writer->failure = ONSET_DETECT_NO_MEMORY;
        writer->reason = "out of memory";
    } catch (const std::exception &error) {
        writer->failure = ONSET_DETECT_IO;
        writer->reason = error.what();
    }
    return writer->failure;
}

int onset_writer_close(onset_writer *writer, char *message, size_t message_size)
{
    if (!writer) return 0;
    const std::unique_ptr<onset_writer> owned(writer);
    if (owned->failure == 0) {
        try {
            owned->writer.close();
        } catch (const std::exception &error) {
            owned->failure = ONSET_DETECT_IO;
            owned->reason = error.what();
        }
    }
    if (owned->failure != 0) copy_message(owned->reason, message, message_size);
    return owned->failure;
}

}  // extern "C"
