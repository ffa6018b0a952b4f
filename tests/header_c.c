/* A C host: the public header must compile as C99 and link. */
#include "onset.h"

#include <stddef.h>

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
    return output[0] == 1.0 ? 0 : 1; /* two distinct samples: exactly 1 */
}
