#include "pick_writer.h"

#include "event_writer.h"

namespace tool {

void PickWriter::header()
{
    if (header_written_) return;
    header_written_ = true;
    std::fprintf(out_, "%s\n", csv_pick_header);
}

bool PickWriter::write(const onset_pick &pick)
{
    header();
    std::fprintf(out_, "%s\n", csv_pick_columns(pick, ids_[static_cast<size_t>(pick.channel)]).c_str());
    // An associator reading the file sees each pick as soon as it is final.
    return std::fflush(out_) == 0 && !std::ferror(out_);
}

bool PickWriter::finish()
{
    header();
    return std::fflush(out_) == 0 && !std::ferror(out_);
}

}  // namespace tool
