/* The keys a telephone exchange's DTMF receiver hears in numtone's output.
 *
 *   dtmf_judge RATE BITS CHANNELS CHANNEL  < raw PCM
 *
 * Reads raw PCM as numtone writes it (unsigned 8-bit or signed 16-bit
 * little-endian, CHANNELS interleaved, RATE frames a second), takes channel
 * CHANNEL (from 1) and runs it through spandsp's dtmf_rx, the ITU-T Q.24
 * receiver of soft switches and fax gateways: a level threshold, twist
 * limits, the share of the energy held by the two tones, and two agreeing
 * blocks per key.  Prints the keys heard, in order, and a newline.
 *
 * The receiver works at 8000 Hz.  At that rate the samples reach it as they
 * are.  Any other rate goes through sox first, scaled down by HEADROOM_DB
 * so that the resampler's overshoot cannot clip numtone's full-scale peaks,
 * and the receiver's threshold is lowered by as much, so that it still
 * judges the level numtone wrote.
 */
#include <spandsp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* dtmf_rx's own default threshold, in dBm0.  The header does not give it; a
 * receiver left at its default and one set to -42 miss the same keys at
 * every level, in steps of 0.1 dB. */
#define THRESHOLD_DBM0 (-42)
#define HEADROOM_DB 6

static void usage(void) {
    fputs("usage: dtmf_judge RATE 8|16 1|2 CHANNEL < raw\n", stderr);
    exit(2);
}

/* The sample of one channel of a frame. */
static int16_t sample(const unsigned char* frame, int bits, int channel) {
    if (bits == 8)
        return (int16_t)((frame[channel] - 128) * 256);
    const unsigned char* p = frame + 2 * channel;
    return (int16_t)(p[0] | p[1] << 8);
}

/* Standard input resampled to 16-bit mono at 8000 Hz, the one channel kept,
 * with headroom; sox reads our standard input itself. */
static FILE* resampled(int rate, int bits, int channels, int channel) {
    char cmd[256];
    snprintf(cmd, sizeof cmd,
             "sox -V1 -D -t raw -e %s -b %d -L -r %d -c %d - "
             "-t raw -e signed -b 16 -L -c 1 - remix %d gain -%d rate 8000",
             bits == 8 ? "unsigned" : "signed", bits, rate, channels, channel + 1, HEADROOM_DB);
    FILE* in = popen(cmd, "r");
    if (in == NULL) {
        perror("popen sox");
        exit(1);
    }
    return in;
}

static void report(dtmf_rx_state_t* rx) {
    char digits[MAX_DTMF_DIGITS + 1];
    fwrite(digits, 1, dtmf_rx_get(rx, digits, MAX_DTMF_DIGITS), stdout);
}

int main(int argc, char** argv) {
    if (argc != 5)
        usage();
    int rate = atoi(argv[1]), bits = atoi(argv[2]), channels = atoi(argv[3]);
    int channel = atoi(argv[4]) - 1;
    if (rate < 1 || (bits != 8 && bits != 16) || channels < 1 || channels > 2 || channel < 0 ||
        channel >= channels)
        usage();
    dtmf_rx_state_t* rx = dtmf_rx_init(NULL, NULL, NULL);
    if (rx == NULL) {
        fputs("dtmf_rx_init failed\n", stderr);
        return 1;
    }
    FILE* in = stdin;
    if (rate != 8000) {
        in = resampled(rate, bits, channels, channel);
        bits = 16, channels = 1, channel = 0;
        dtmf_rx_parms(rx, -1, -1, -1, THRESHOLD_DBM0 - HEADROOM_DB);
    }

    const int frame = bits / 8 * channels;
    unsigned char raw[160 * 4];
    int16_t amp[160];
    size_t got;
    while ((got = fread(raw, (size_t)frame, 160, in)) > 0) {
        for (size_t i = 0; i < got; ++i)
            amp[i] = sample(raw + i * (size_t)frame, bits, channel);
        dtmf_rx(rx, amp, (int)got);
        report(rx);
    }
    const int failed = ferror(in) || (in != stdin && pclose(in) != 0);
    /* Silence after the end, so that a key that ends the stream is told. */
    memset(amp, 0, sizeof amp);
    for (int i = 0; i < 10; ++i)
        dtmf_rx(rx, amp, 160);
    report(rx);
    putchar('\n');
    dtmf_rx_free(rx);
    return failed;
}
