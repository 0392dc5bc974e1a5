/*  dio.c - the particle generator, on its own, in plain C
 *
 *  This is the glowing curve you have been watching, without the
 *  engine around it: no threads, no window, no layers. It draws a
 *  few frames of the blossom into a 32-bit buffer and writes them
 *  as PPM pictures, so any image viewer can show what it made.
 *
 *      cc -O2 -o dio dio.c -lm
 *      ./dio 48 blossom        (48 frames: blossom_000.ppm ...)
 *
 *  How it works, in three steps:
 *
 *  1. The curve. Two points run round two circles-of-circles:
 *     x = sin(pa * a + phi) and sin(pb * b + phi), where a and b
 *     grow at two random speeds and pa, pb are small primes.
 *     The visible point is a blend of the two, mix : (1 - mix),
 *     so one number slides the shape from one figure to another.
 *
 *  2. The sprite. Every point of the curve is a soft blob: rings
 *     of a small table, bright in the middle, dim at the edge.
 *
 *  3. The light. Blobs are ADDED to the frame, with the carries
 *     running from one colour byte into the next. Where many blobs
 *     meet, a byte overflows into its neighbour and the colour
 *     turns: that is the shimmer in the thick parts of the curve.
 *
 *  Everything random comes from one small generator with a seed,
 *  so the same seed always gives the same pictures.
 */

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define W        320          /* frame size, pixels */
#define H        240
#define RADIUS   8            /* blob radius, pixels */
#define SIDE     (2 * RADIUS) /* blob table side */
#define TWO_PI   6.2831853

/* ---------------------------------------------------------------
 * random numbers: a 32-bit linear congruential generator
 * ------------------------------------------------------------- */

static uint32_t seed = 2004;

static uint32_t rnd(void)
{
    seed = seed * 1103515245u + 12345u;
    return seed;
}

/* a float in [0, 1) from the top 24 bits */
static double rnd_unit(void)
{
    return (rnd() >> 8) / 16777216.0;
}

/* ---------------------------------------------------------------
 * the frame: one 32-bit word per pixel, 0x00RRGGBB
 * ------------------------------------------------------------- */

static uint32_t frame[W * H];

static void clear_frame(void)
{
    memset(frame, 0, sizeof frame);
}

/* adds v to one pixel; the carries cross from blue into green,
 * from green into red, and what falls out of red is lost */
static void add_pixel(int x, int y, uint32_t v)
{
    uint32_t *p;

    if (x < 0 || y < 0 || x >= W || y >= H)
        return;
    p = &frame[y * W + x];
    *p = (*p + v) & 0x00FFFFFF;
}

/* ---------------------------------------------------------------
 * the blob: rings drawn from the outside in
 * ------------------------------------------------------------- */

static uint32_t blob[SIDE][SIDE];

static uint32_t rgb(int r, int g, int b)
{
    if (r > 255) r = 255;
    if (g > 255) g = 255;
    if (b > 255) b = 255;
    return ((uint32_t)r << 16) | ((uint32_t)g << 8) | (uint32_t)b;
}

/*
 * One degree at a time, every ring from the largest to the
 * smallest: inner rings are drawn last, so they win where two
 * rings land on the same cell. The ring of radius i gets the
 * brightness 153 / i, a little more blue than red and green.
 */
static void make_blob(void)
{
    int deg, i;

    memset(blob, 0, sizeof blob);
    for (deg = 1; deg <= 360; deg++) {
        double t = deg * TWO_PI / 360.0;
        for (i = RADIUS; i >= 1; i--) {
            int col = (int)(RADIUS + i * cos(t));
            int row = (int)(RADIUS + i * sin(t));
            int v = (int)((153 / i) * 0.8);
            if (col < 0 || col >= SIDE || row < 0 || row >= SIDE)
                continue;
            blob[row][col] = rgb(v, v, (int)(v * 1.3));
        }
    }
}

static void draw_blob(int x, int y)
{
    int r, c;

    for (r = 0; r < SIDE; r++)
        for (c = 0; c < SIDE; c++)
            if (blob[r][c])
                add_pixel(x + c, y + r, blob[r][c]);
}

/* ---------------------------------------------------------------
 * the curve and its parameters
 * ------------------------------------------------------------- */

static const double primes[] = {
    2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31
};

struct blossom {
    double freq_a, freq_b;   /* speeds of the two points */
    double pxa, pya;         /* primes of the first point */
    double pxb, pyb;         /* primes of the second point */
    double mix;              /* share of the first point, 0.1..1 */
    double phase;            /* turns the whole figure */
};

/* a prime from the first `range` entries of the table */
static double pick_prime(int range)
{
    int i = (int)(rnd_unit() * range);
    return primes[i];
}

/*
 * A new shape. The range of primes decides how busy the figure
 * can get: two or three give calm loops, eleven give lace. The
 * mix moves one step up or down, so the new figure is a little
 * more like the first point's or the second point's.
 */
static void recal(struct blossom *b, int up)
{
    int range = 1 + (int)(rnd_unit() * 10);

    b->freq_a = 1.0 + rnd_unit() * 30.0;
    b->freq_b = 1.0 + rnd_unit() * 30.0;
    b->pxa = pick_prime(range);
    b->pya = pick_prime(range);
    b->pxb = pick_prime(range);
    b->pyb = pick_prime(range);

    if (up)
        b->mix = b->mix < 1.0 ? b->mix + 0.1 : 1.0;
    else
        b->mix = b->mix > 0.1 ? b->mix - 0.1 : 0.1;
}

/*
 * One frame: walk t once round the circle in small steps and put
 * a blob at every point. 5/11 of the frame is the figure's half
 * size and 0.47 moves its middle a bit up and left, because a
 * blob is drawn from its top left corner.
 */
static void draw_blossom(const struct blossom *b)
{
    const double m = b->mix;
    const double n = 1.0 - m;
    const double phi = b->phase;
    double t;

    for (t = 0.0; t < TWO_PI; t += 0.006) {
        double a = b->freq_a * t;
        double c = b->freq_b * t;
        double fx = m * sin(b->pxa * a + phi)
                  + n * sin(b->pxb * c + phi);
        double fy = m * cos(b->pya * a + phi)
                  + n * cos(b->pyb * c + phi);
        int x = (int)(W * (fx * 5.0 / 11.0 + 0.47));
        int y = (int)(H * (fy * 5.0 / 11.0 + 0.47));
        draw_blob(x, y);
    }
}

/* the figure turns a hundredth of a radian a frame */
static void advance(struct blossom *b)
{
    b->phase += 0.01;
    if (b->phase > TWO_PI)
        b->phase -= TWO_PI;
}

/* ---------------------------------------------------------------
 * output: binary PPM, three bytes a pixel
 * ------------------------------------------------------------- */

static int write_ppm(const char *path)
{
    FILE *f = fopen(path, "wb");
    int i;

    if (!f) {
        perror(path);
        return -1;
    }
    fprintf(f, "P6\n%d %d\n255\n", W, H);
    for (i = 0; i < W * H; i++) {
        unsigned char px[3];
        px[0] = (unsigned char)(frame[i] >> 16);
        px[1] = (unsigned char)(frame[i] >> 8);
        px[2] = (unsigned char)frame[i];
        fwrite(px, 1, 3, f);
    }
    if (fclose(f) != 0) {
        perror(path);
        return -1;
    }
    return 0;
}

/* how much of the frame is lit: a line for the terminal */
static void report(int n, const struct blossom *b)
{
    long lit = 0;
    int i;

    for (i = 0; i < W * H; i++)
        if (frame[i])
            lit++;
    fprintf(stderr, "frame %3d  mix %.1f  primes %g %g %g %g"
            "  lit %ld\n", n, b->mix, b->pxa, b->pya,
            b->pxb, b->pyb, lit);
}

/* ---------------------------------------------------------------
 * main: every 24 frames the blossom changes its shape
 * ------------------------------------------------------------- */

static void usage(const char *self)
{
    fprintf(stderr, "usage: %s [frames [name [seed]]]\n", self);
    fprintf(stderr, "  frames  how many pictures, 1..9999"
            " (default 48)\n");
    fprintf(stderr, "  name    file name start"
            " (default blossom)\n");
    fprintf(stderr, "  seed    any number (default 2004)\n");
}

int main(int argc, char **argv)
{
    struct blossom b;
    const char *name = "blossom";
    char path[512];
    int frames = 48;
    int n;

    if (argc > 1) {
        frames = atoi(argv[1]);
        if (frames < 1 || frames > 9999) {
            usage(argv[0]);
            return 2;
        }
    }
    if (argc > 2)
        name = argv[2];
    if (argc > 3)
        seed = (uint32_t)strtoul(argv[3], NULL, 10);

    memset(&b, 0, sizeof b);
    b.mix = 0.7;
    make_blob();
    recal(&b, 1);

    for (n = 0; n < frames; n++) {
        if (n > 0 && n % 24 == 0)
            recal(&b, n % 48 == 0);
        advance(&b);
        clear_frame();
        draw_blossom(&b);
        snprintf(path, sizeof path, "%s_%03d.ppm", name, n);
        if (write_ppm(path) != 0)
            return 1;
        report(n, &b);
    }
    return 0;
}

/*
 * Things to try:
 *
 *  - draw with a bigger RADIUS: the blobs melt into a ribbon;
 *  - take out the mask in add_pixel and let red carry into a
 *    fourth byte: nothing changes on screen, but now you know
 *    where the light goes;
 *  - make the step in draw_blossom larger, 0.02 or 0.05, and
 *    watch the ribbon fall apart into beads;
 *  - replace the primes by 1, 2, 3, 4 ...: the figures close
 *    sooner and look like flowers from a school book;
 *  - set mix to 0.5 for good: two points pulling equally.
 *
 *  In the intro the same curve runs at 640x480, 24 times a
 *  second, on its own thread, and its frames are blended over
 *  what the screen already shows. Nothing is cleared between
 *  frames there, so the old curve fades slowly under the new.
 *
 *  Have fun, and share what you make of it.
 */
