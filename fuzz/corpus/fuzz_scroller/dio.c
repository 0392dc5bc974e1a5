
(/*  dio.c - a plasma in 16.16 fixed point, no floats in the loop
 *
 *  builds a sine table once, then mixes four waves per pixel
 *  into an 8-bit index and looks the colour up in a palette.
 *  cc -O2 -o dio dio.c -lm && ./dio > plasma.ppm
 */

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define W       320
#define H       200
#define STEPS   1024            /* entries in one sine period */
#define MASK    (STEPS - 1)
#define ONE     (1 << 16)       /* 1.0 in 16.16 */

typedef int32_t fixed;

static fixed sine[STEPS];
static uint8_t frame[W * H];
static uint8_t palette[256][3];

/* the only place that touches libm: everything after is integer */
static void make_sine(void)
{
    int i;
    for (i = 0; i < STEPS; i++) {
        double a = 2.0 * M_PI * i / STEPS;
        sine[i] = (fixed)lrint(sin(a) * ONE);
    }
}

static fixed fsin(int angle)
{
    return sine[angle & MASK];
}

static fixed fcos(int angle)
{
    return sine[(angle + STEPS / 4) & MASK];
}

/* dark blue to violet to white: three ramps over 256 steps */
static void make_palette(void)
{
    int i;
    for (i = 0; i < 256; i++) {
        int r = i < 128 ? i / 2 : 64 + (i - 128) * 3 / 2;
        int g = i < 192 ? i / 6 : 32 + (i - 192) * 3;
        int b = i < 96 ? 40 + i : 136 + (i - 96) * 3 / 4;
        palette[i][0] = (uint8_t)(r > 255 ? 255 : r);
        palette[i][1] = (uint8_t)(g > 255 ? 255 : g);
        palette[i][2] = (uint8_t)(b > 255 ? 255 : b);
    }
}

/* integer square root, good enough for a distance field */
static uint32_t isqrt(uint32_t n)
{
    uint32_t root = 0, bit = 1u << 30;
    while (bit > n)
        bit >>= 2;
    while (bit) {
        if (n >= root + bit) {
            n -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return root;
}

static void plasma(int t)
{
    int x, y;
    int cx = W / 2 + (fcos(t * 3) * 90 >> 16);
    int cy = H / 2 + (fsin(t * 2) * 60 >> 16);

    for (y = 0; y < H; y++) {
        fixed wy = fsin(y * 11 + t * 4);
        for (x = 0; x < W; x++) {
            int dx = x - cx, dy = y - cy;
            uint32_t d = isqrt((uint32_t)(dx * dx + dy * dy));
            fixed v = fsin(x * 9 + t * 3) + wy
                    + fsin((x + y) * 3 - t * 5)
                    + fsin((int)d * 14 - t * 7);
            /* four waves sum to -4..4: map to 0..255 */
            frame[y * W + x] = (uint8_t)((v + 4 * ONE) * 255 >> 19);
        }
    }
}

static void write_ppm(FILE *out)
{
    int i;
    fprintf(out, "P6\n%d %d\n255\n", W, H);
    for (i = 0; i < W * H; i++)
        fwrite(palette[frame[i]], 1, 3, out);
}

int main(int argc, char **argv)
{
    int t = argc > 1 ? atoi(argv[1]) : 42;

    make_sine();
    make_palette();
    plasma(t);
    write_ppm(stdout);

    fprintf(stderr, "dio: frame %d, %dx%d, table of %d\n",
            t, W, H, STEPS);
    return 0;
}
