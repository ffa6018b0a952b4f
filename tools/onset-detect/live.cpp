// A live run: the records of a SeedLink server as they come, each pick and
// event written as soon as it is final, until a stop signal.
#include <omp.h>

#include <cstdio>
#include <cstdlib>

#include "engine.h"
#include "interruption.h"
#include "outputs.h"
#include "runs.h"

namespace tool {

int run_live(const Options &options)
{
    // A live stream brings a few records a second: one thread keeps up
    // with hundreds of channels, and more would only spin between them.
    if (!std::getenv("OMP_NUM_THREADS")) omp_set_num_threads(1);
    Run run(options.detector, options.stations, location_files(options), options.seedlink, options.channels,
            options.state, options.max_latency);
    Outputs outputs(options, run.ids());
    if (!options.picks.empty()) run.keep_picks();
    // Picks before their events, which they become final before.
    const auto pass_on = [&] {
        for (const std::string &line : run.warnings()) std::fprintf(stderr, "onset-detect: warning: %s\n", line.c_str());
        for (const onset_pick &pick : run.take_picks()) outputs.write(pick);
        for (const Event &event : run.take()) outputs.write(event);
    };
    while (stop_signal() == 0) {
        run.step();
        pass_on();
    }
    // What came is flushed: every event and pick becomes final, and the
    // state file says that the records fed were taken.
    run.finish();
    pass_on();
    outputs.finish();
    stop_if_interrupted();
    return 0;
}

}  // namespace tool
