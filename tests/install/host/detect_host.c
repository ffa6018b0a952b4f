/* A C host of the installed detection engine: it must compile with the
 * installed header, link the installed library (which finds libonset beside
 * it) and make a detector. */
#include <onset_detect.h>

#include <stdio.h>

int main(void)
{
    onset_detect_options options;
    onset_detect_defaults(&options);
    char message[256] = "";
    onset_detector *detector = onset_detector_create(&options, message, sizeof message);
    if (!detector || onset_detector_add_channel(detector, "XX.S01..HHZ", 100.0) != 0) {
        fprintf(stderr, "no detector: %s\n", message);
        return 1;
    }
    onset_detector_destroy(detector);
    printf("onset %s: host ok\n", onset_detect_version());
    return 0;
}
