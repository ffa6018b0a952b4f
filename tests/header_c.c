/* A C host: the public header must compile as C99 and link. */
#include "onset.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

/* The derived version macros agree with the three numbers. */
#if ONSET_VERSION_NUMBER != ONSET_VERSION_MAJOR * 10000 + ONSET_VERSION_MINOR * 100 + ONSET_VERSION_PATCH
#error "ONSET_VERSION_NUMBER does not follow the version numbers"
#endif

int main(void)
{
    double input[4] = {1.0, 2.0, 4.0, 8.0};
    double output[4];
    const double *inputs[1] = {input};
    double *outputs[1] = {output};
    uint32_t length = 4, window = 2;
    TraceBatch batch = {inputs, outputs, &length, &window, 1};
    movkurtosis(&batch);
    /* Records cross the boundary by layout. */
    if (sizeof(Pick) != 64 || offsetof(Pick, time) != 24)
        return 1;
    char version[32];
    snprintf(version, sizeof version, "%d.%d.%d", ONSET_VERSION_MAJOR, ONSET_VERSION_MINOR,
             ONSET_VERSION_PATCH);
    if (strcmp(version, ONSET_VERSION_STRING) != 0)
        return 1;
    return output[0] == 1.0 ? 0 : 1; /* two distinct samples: exactly 1 */
}
