// onset-detect: multi-station event detection with the onset engine.
#include <omp.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "inputs.h"
#include "interruption.h"
#include "onset_detect.h"
#include "options.h"
#include "runs.h"

int main(int argc, char **argv)
{
    try {
        tool::Options options;
        switch (tool::parse_arguments(argc, argv, options)) {
        case tool::Request::help: std::fputs(tool::help_text().c_str(), stdout); return 0;
        case tool::Request::version: std::printf("onset-detect %s\n", onset_detect_version()); return 0;
        case tool::Request::run: break;
        }
        // Channels are processed side by side; the library's own parallel
        // regions inside them run on one thread each.
        omp_set_max_active_levels(1);
        int status;
        if (!options.write_synthetic.empty()) status = tool::write_synthetic(options);
        else {
            tool::note_stop_signals();
            status = options.demo                ? tool::run_synthetic(options)
                     : !options.seedlink.empty() ? tool::run_live(options)
                                                 : tool::run_recordings(options);
        }
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "onset-detect: cannot write the output: %s\n", std::strerror(errno));
            return 1;
        }
        return status;
    } catch (const tool::Interrupted &stop) {
        // The outputs are closed by now. Ended by the signal itself, as the
        // shell and make expect of a program stopped with Ctrl-C.
        std::fflush(stdout);
        std::fprintf(stderr, "onset-detect: stopped by a signal; the outputs hold the events found until then\n");
        std::signal(stop.signal, SIG_DFL);
        std::raise(stop.signal);
        return 128 + stop.signal;
    } catch (const tool::InputError &error) {
        std::fprintf(stderr, "onset-detect: %s\n", error.what());
        return 2;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "onset-detect: out of memory\n");
        return 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "onset-detect: %s\n", error.what());
        return 1;
    }
}
