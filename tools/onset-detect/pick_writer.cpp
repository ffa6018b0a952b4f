#include "pick_writer.h"

#include "event_writer.h"
#include "field_escaping.h"

namespace tool {

void PickWriter::header()
{
    if (header_written_) return;
    header_written_ = true;
    std::fputs("trace,pick,strength,phase,uncertainty\n", out_);
}

bool PickWriter::write(const onset_pick &pick)
{
    header();
    std::fprintf(out_, "%s,%s,%.3f,%c,%.3f\n", csv_field(ids_[static_cast<size_t>(pick.channel)]).c_str(),
                 iso_time(pick.time).c_str(), pick.strength, static_cast<char>(pick.phase), pick.uncertainty);
    // An associator reading the file sees each pick as soon as it is final.
    return std::fflush(out_) == 0 && !std::ferror(out_);
}

bool PickWriter::finish()
{
    header();
    return std::fflush(out_) == 0 && !std::ferror(out_);
}

}  // namespace tool
