/* A single-phase power meter: samples voltage and current on ADC1, computes RMS values, real and
   apparent power, power factor, frequency and the first harmonics, the board temperature from an
   NTC thermistor, and reports them on USART1 once a second. A small command line on the same
   USART sets calibration and the report format. */
#include <ctype.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "board.h"

#define SAMPLES 256
#define HARMONICS 15
#define ADC_VOLTAGE 0
#define ADC_CURRENT 1
#define ADC_NTC 2
#define ADC_REFERENCE_V 3.3
#define ADC_FULL_SCALE 4095.0

/* 5x7 font for the optional character display, ASCII 0x20-0x7E. */
static const uint8_t font5x7[95][5] = {
    {0x00, 0x00, 0x00, 0x00, 0x00}, {0x00, 0x00, 0x5F, 0x00, 0x00}, {0x00, 0x07, 0x00, 0x07, 0x00},
    {0x14, 0x7F, 0x14, 0x7F, 0x14}, {0x24, 0x2A, 0x7F, 0x2A, 0x12}, {0x23, 0x13, 0x08, 0x64, 0x62},
    {0x36, 0x49, 0x55, 0x22, 0x50}, {0x00, 0x05, 0x03, 0x00, 0x00}, {0x00, 0x1C, 0x22, 0x41, 0x00},
    {0x00, 0x41, 0x22, 0x1C, 0x00}, {0x08, 0x2A, 0x1C, 0x2A, 0x08}, {0x08, 0x08, 0x3E, 0x08, 0x08},
    {0x00, 0x50, 0x30, 0x00, 0x00}, {0x08, 0x08, 0x08, 0x08, 0x08}, {0x00, 0x60, 0x60, 0x00, 0x00},
    {0x20, 0x10, 0x08, 0x04, 0x02}, {0x3E, 0x51, 0x49, 0x45, 0x3E}, {0x00, 0x42, 0x7F, 0x40, 0x00},
    {0x42, 0x61, 0x51, 0x49, 0x46}, {0x21, 0x41, 0x45, 0x4B, 0x31}, {0x18, 0x14, 0x12, 0x7F, 0x10},
    {0x27, 0x45, 0x45, 0x45, 0x39}, {0x3C, 0x4A, 0x49, 0x49, 0x30}, {0x01, 0x71, 0x09, 0x05, 0x03},
    {0x36, 0x49, 0x49, 0x49, 0x36}, {0x06, 0x49, 0x49, 0x29, 0x1E}, {0x00, 0x36, 0x36, 0x00, 0x00},
    {0x00, 0x56, 0x36, 0x00, 0x00}, {0x00, 0x08, 0x14, 0x22, 0x41}, {0x14, 0x14, 0x14, 0x14, 0x14},
    {0x41, 0x22, 0x14, 0x08, 0x00}, {0x02, 0x01, 0x51, 0x09, 0x06}, {0x32, 0x49, 0x79, 0x41, 0x3E},
    {0x7E, 0x11, 0x11, 0x11, 0x7E}, {0x7F, 0x49, 0x49, 0x49, 0x36}, {0x3E, 0x41, 0x41, 0x41, 0x22},
    {0x7F, 0x41, 0x41, 0x22, 0x1C}, {0x7F, 0x49, 0x49, 0x49, 0x41}, {0x7F, 0x09, 0x09, 0x01, 0x01},
    {0x3E, 0x41, 0x41, 0x51, 0x32}, {0x7F, 0x08, 0x08, 0x08, 0x7F}, {0x00, 0x41, 0x7F, 0x41, 0x00},
    {0x20, 0x40, 0x41, 0x3F, 0x01}, {0x7F, 0x08, 0x14, 0x22, 0x41}, {0x7F, 0x40, 0x40, 0x40, 0x40},
    {0x7F, 0x02, 0x04, 0x02, 0x7F}, {0x7F, 0x04, 0x08, 0x10, 0x7F}, {0x3E, 0x41, 0x41, 0x41, 0x3E},
    {0x7F, 0x09, 0x09, 0x09, 0x06}, {0x3E, 0x41, 0x51, 0x21, 0x5E}, {0x7F, 0x09, 0x19, 0x29, 0x46},
    {0x46, 0x49, 0x49, 0x49, 0x31}, {0x01, 0x01, 0x7F, 0x01, 0x01}, {0x3F, 0x40, 0x40, 0x40, 0x3F},
    {0x1F, 0x20, 0x40, 0x20, 0x1F}, {0x7F, 0x20, 0x18, 0x20, 0x7F}, {0x63, 0x14, 0x08, 0x14, 0x63},
    {0x03, 0x04, 0x78, 0x04, 0x03}, {0x61, 0x51, 0x49, 0x45, 0x43}, {0x00, 0x00, 0x7F, 0x41, 0x41},
    {0x02, 0x04, 0x08, 0x10, 0x20}, {0x41, 0x41, 0x7F, 0x00, 0x00}, {0x04, 0x02, 0x01, 0x02, 0x04},
    {0x40, 0x40, 0x40, 0x40, 0x40}, {0x00, 0x01, 0x02, 0x04, 0x00}, {0x20, 0x54, 0x54, 0x54, 0x78},
    {0x7F, 0x48, 0x44, 0x44, 0x38}, {0x38, 0x44, 0x44, 0x44, 0x20}, {0x38, 0x44, 0x44, 0x48, 0x7F},
    {0x38, 0x54, 0x54, 0x54, 0x18}, {0x08, 0x7E, 0x09, 0x01, 0x02}, {0x08, 0x14, 0x54, 0x54, 0x3C},
    {0x7F, 0x08, 0x04, 0x04, 0x78}, {0x00, 0x44, 0x7D, 0x40, 0x00}, {0x20, 0x40, 0x44, 0x3D, 0x00},
    {0x00, 0x7F, 0x10, 0x28, 0x44}, {0x00, 0x41, 0x7F, 0x40, 0x00}, {0x7C, 0x04, 0x18, 0x04, 0x78},
    {0x7C, 0x08, 0x04, 0x04, 0x78}, {0x38, 0x44, 0x44, 0x44, 0x38}, {0x7C, 0x14, 0x14, 0x14, 0x08},
    {0x08, 0x14, 0x14, 0x18, 0x7C}, {0x7C, 0x08, 0x04, 0x04, 0x08}, {0x48, 0x54, 0x54, 0x54, 0x20},
    {0x04, 0x3F, 0x44, 0x40, 0x20}, {0x3C, 0x40, 0x40, 0x20, 0x7C}, {0x1C, 0x20, 0x40, 0x20, 0x1C},
    {0x3C, 0x40, 0x30, 0x40, 0x3C}, {0x44, 0x28, 0x10, 0x28, 0x44}, {0x0C, 0x50, 0x50, 0x50, 0x3C},
    {0x44, 0x64, 0x54, 0x4C, 0x44}, {0x00, 0x08, 0x36, 0x41, 0x00}, {0x00, 0x00, 0x7F, 0x00, 0x00},
    {0x00, 0x41, 0x36, 0x08, 0x00}, {0x08, 0x08, 0x2A, 0x1C, 0x08},
};

/* NTC 10k (B 3950) resistance in ohms from -40 to 125 degrees C in steps of 5. */
static const float ntc_table[34] = {
    336479.0f, 242681.0f, 176974.0f, 130421.0f, 97081.0f, 72957.0f, 55329.0f, 42327.0f,
    32650.0f,  25392.0f,  19901.0f,  15712.0f,  12493.0f, 10000.0f, 8056.0f,  6530.0f,
    5324.0f,   4365.0f,   3599.0f,   2982.0f,   2483.0f,  2079.0f,  1748.0f,  1476.0f,
    1252.0f,   1066.0f,   912.0f,    782.0f,    674.0f,   583.0f,   506.0f,   440.0f,
    384.0f,    337.0f,
};

/* IEC 61000-3-2 class A limits for odd harmonics 3..39, in amperes. */
static const double harmonic_limits[19] = {
    2.30, 1.14, 0.77, 0.40, 0.33, 0.21, 0.15, 0.132, 0.118, 0.105,
    0.095, 0.087, 0.080, 0.074, 0.069, 0.064, 0.060, 0.057, 0.054,
};

static uint16_t crc16_table[256];

struct calibration {
    double volts_per_count;
    double amps_per_count;
    double phase_correction_deg;
    double ntc_series_ohms;
    double steinhart[3];
    char tag[24];
};

struct reading {
    double v_rms, i_rms, p_real, s_apparent, q_reactive, power_factor, frequency_hz, thd_percent;
    double harmonics[HARMONICS + 1];
    double phase_deg[HARMONICS + 1];
    double temperature_c;
    double energy_wh;
};

static struct calibration cal = {
    .volts_per_count = 0.1612,
    .amps_per_count = 0.00805,
    .phase_correction_deg = 1.7,
    .ntc_series_ohms = 10000.0,
    .steinhart = {1.009249522e-03, 2.378405444e-04, 2.019202697e-07},
    .tag = "meter-01",
};

static int16_t voltage_samples[SAMPLES];
static int16_t current_samples[SAMPLES];
static double window[SAMPLES];
static int report_format; /* 0 text, 1 CSV, 2 JSON */
static double energy_wh;

static void crc16_init(void) {
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = (uint16_t)i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
        crc16_table[i] = crc;
    }
}

static uint16_t crc16(const void *data, size_t length) {
    const uint8_t *p = data;
    uint16_t crc = 0xFFFF;
    while (length--) crc = (uint16_t)((crc >> 8) ^ crc16_table[(crc ^ *p++) & 0xFF]);
    return crc;
}

static void window_init(void) {
    /* Blackman-Harris window against leakage between the harmonics. */
    const double a0 = 0.35875, a1 = 0.48829, a2 = 0.14128, a3 = 0.01168;
    for (int n = 0; n < SAMPLES; ++n) {
        double x = 2.0 * M_PI * n / (SAMPLES - 1);
        window[n] = a0 - a1 * cos(x) + a2 * cos(2 * x) - a3 * cos(3 * x);
    }
}

static void sample(void) {
    long sum_v = 0, sum_i = 0;
    for (int n = 0; n < SAMPLES; ++n) {
        voltage_samples[n] = (int16_t)adc_read(ADC_VOLTAGE);
        current_samples[n] = (int16_t)adc_read(ADC_CURRENT);
        sum_v += voltage_samples[n];
        sum_i += current_samples[n];
    }
    /* Remove the mid-rail offset. */
    int16_t offset_v = (int16_t)(sum_v / SAMPLES), offset_i = (int16_t)(sum_i / SAMPLES);
    for (int n = 0; n < SAMPLES; ++n) {
        voltage_samples[n] -= offset_v;
        current_samples[n] -= offset_i;
    }
}

static int compare_doubles(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double frequency_from_crossings(void) {
    double crossings[32];
    int count = 0;
    for (int n = 1; n < SAMPLES && count < 32; ++n) {
        if (voltage_samples[n - 1] < 0 && voltage_samples[n] >= 0) {
            double fraction = (double)-voltage_samples[n - 1] / (voltage_samples[n] - voltage_samples[n - 1]);
            crossings[count++] = n - 1 + fraction;
        }
    }
    if (count < 3) return 0.0;
    double periods[31];
    for (int k = 1; k < count; ++k) periods[k - 1] = crossings[k] - crossings[k - 1];
    qsort(periods, (size_t)(count - 1), sizeof periods[0], compare_doubles);
    const double sample_rate = 3200.0;
    return sample_rate / periods[(count - 1) / 2];
}

static void harmonics(struct reading *r) {
    double fundamental_bin = r->frequency_hz > 0 ? r->frequency_hz * SAMPLES / 3200.0 : 4.0;
    double total = 0;
    for (int h = 1; h <= HARMONICS; ++h) {
        double re = 0, im = 0, bin = fundamental_bin * h;
        for (int n = 0; n < SAMPLES; ++n) {
            double angle = 2.0 * M_PI * bin * n / SAMPLES;
            double x = current_samples[n] * cal.amps_per_count * window[n];
            re += x * cos(angle);
            im -= x * sin(angle);
        }
        r->harmonics[h] = 2.0 * hypot(re, im) / (SAMPLES * 0.35875) / M_SQRT2;
        r->phase_deg[h] = atan2(im, re) * 180.0 / M_PI;
        if (h > 1) total += r->harmonics[h] * r->harmonics[h];
    }
    r->thd_percent = r->harmonics[1] > 0 ? 100.0 * sqrt(total) / r->harmonics[1] : 0.0;
}

static double temperature_celsius(void) {
    double counts = adc_read(ADC_NTC);
    if (counts <= 0 || counts >= ADC_FULL_SCALE) return NAN;
    double ohms = cal.ntc_series_ohms * counts / (ADC_FULL_SCALE - counts);
    /* Steinhart-Hart, then a check against the table's nearest step. */
    double ln_r = log(ohms);
    double kelvin = 1.0 / (cal.steinhart[0] + cal.steinhart[1] * ln_r + cal.steinhart[2] * pow(ln_r, 3));
    double celsius = kelvin - 273.15;
    int step = (int)floor((celsius + 40.0) / 5.0);
    if (step >= 0 && step < 33) {
        double t = (log(ohms) - log(ntc_table[step])) / (log(ntc_table[step + 1]) - log(ntc_table[step]));
        double from_table = -40.0 + 5.0 * (step + t);
        if (fabs(from_table - celsius) > 2.0) celsius = from_table;
    }
    return celsius;
}

static void measure(struct reading *r) {
    sample();
    double sum_vv = 0, sum_ii = 0, sum_vi = 0;
    double shift = cal.phase_correction_deg * M_PI / 180.0;
    for (int n = 0; n < SAMPLES; ++n) {
        double v = voltage_samples[n] * cal.volts_per_count;
        double i = current_samples[n] * cal.amps_per_count;
        sum_vv += v * v;
        sum_ii += i * i;
        sum_vi += v * i;
    }
    r->v_rms = sqrt(sum_vv / SAMPLES);
    r->i_rms = sqrt(sum_ii / SAMPLES);
    r->p_real = sum_vi / SAMPLES * cos(shift);
    r->s_apparent = r->v_rms * r->i_rms;
    r->q_reactive = r->s_apparent > fabs(r->p_real) ? sqrt(r->s_apparent * r->s_apparent - r->p_real * r->p_real) : 0.0;
    r->power_factor = r->s_apparent > 1e-9 ? r->p_real / r->s_apparent : 1.0;
    r->frequency_hz = frequency_from_crossings();
    harmonics(r);
    r->temperature_c = temperature_celsius();
    energy_wh += r->p_real / 3600.0;
    r->energy_wh = energy_wh;
}

static void timestamp(char *out, size_t size) {
    time_t now = time(NULL);
    struct tm local;
    localtime_r(&now, &local);
    strftime(out, size, "%Y-%m-%dT%H:%M:%S", &local);
}

static void report(const struct reading *r) {
    char when[32];
    timestamp(when, sizeof when);
    switch (report_format) {
        case 1:
            printf("%s,%s,%.2f,%.3f,%.1f,%.1f,%.1f,%.3f,%.3f,%.2f,%.1f,%.4e\n", when, cal.tag, r->v_rms,
                   r->i_rms, r->p_real, r->s_apparent, r->q_reactive, r->power_factor, r->frequency_hz,
                   r->thd_percent, r->temperature_c, r->energy_wh);
            break;
        case 2: {
            char line[512];
            int n = snprintf(line, sizeof line,
                             "{\"t\":\"%s\",\"tag\":\"%s\",\"v\":%.2f,\"i\":%.3f,\"p\":%.1f,\"s\":%.1f,"
                             "\"q\":%.1f,\"pf\":%.3f,\"f\":%.3f,\"thd\":%.2f,\"temp\":%.1f,\"h\":[",
                             when, cal.tag, r->v_rms, r->i_rms, r->p_real, r->s_apparent, r->q_reactive,
                             r->power_factor, r->frequency_hz, r->thd_percent, r->temperature_c);
            for (int h = 1; h <= HARMONICS && n < (int)sizeof line - 16; ++h)
                n += snprintf(line + n, sizeof line - (size_t)n, "%s%.4g", h > 1 ? "," : "", r->harmonics[h]);
            printf("%s],\"crc\":%u}\n", line, crc16(line, strlen(line)));
            break;
        }
        default:
            printf("%s  %s\n", when, cal.tag);
            printf("  U %8.2f V    I %8.3f A    f %7.3f Hz\n", r->v_rms, r->i_rms, r->frequency_hz);
            printf("  P %8.1f W    S %8.1f VA   Q %8.1f var   PF %6.3f\n", r->p_real, r->s_apparent,
                   r->q_reactive, r->power_factor);
            printf("  THD %6.2f %%   T %5.1f C   E %.6g Wh\n", r->thd_percent, r->temperature_c, r->energy_wh);
            for (int h = 3, k = 0; h <= HARMONICS; h += 2, ++k) {
                const char *flag = r->harmonics[h] > harmonic_limits[k] ? "  over limit" : "";
                printf("  H%-2d %9.4f A  %7.1f deg%s\n", h, r->harmonics[h], r->phase_deg[h], flag);
            }
            break;
    }
}

static void show_calibration(void) {
    printf("tag %s\nvolts/count %.6g\namps/count %.6g\nphase %.3f deg\nntc series %.1f ohm\n"
           "steinhart %.9e %.9e %.9e\n",
           cal.tag, cal.volts_per_count, cal.amps_per_count, cal.phase_correction_deg, cal.ntc_series_ohms,
           cal.steinhart[0], cal.steinhart[1], cal.steinhart[2]);
}

/* Fits the Steinhart-Hart coefficients through three (temperature, resistance) points. */
static int fit_steinhart(const double t_c[3], const double ohms[3], double out[3]) {
    double l[3], y[3];
    for (int k = 0; k < 3; ++k) {
        if (ohms[k] <= 0) return -1;
        l[k] = log(ohms[k]);
        y[k] = 1.0 / (t_c[k] + 273.15);
    }
    double g2 = (y[1] - y[0]) / (l[1] - l[0]);
    double g3 = (y[2] - y[0]) / (l[2] - l[0]);
    double c = (g3 - g2) / (l[2] - l[1]) / (l[0] + l[1] + l[2]);
    double b = g2 - c * (l[0] * l[0] + l[0] * l[1] + l[1] * l[1]);
    double a = y[0] - (b + l[0] * l[0] * c) * l[0];
    if (!isfinite(a) || !isfinite(b) || !isfinite(c)) return -1;
    out[0] = a;
    out[1] = b;
    out[2] = c;
    return 0;
}

static void command(char *line) {
    char word[16];
    double a, b, c, d, e, f;
    for (char *p = line; *p; ++p) *p = (char)tolower((unsigned char)*p);
    if (sscanf(line, "%15s", word) != 1) return;
    if (!strcmp(word, "format")) {
        char name[8];
        if (sscanf(line, "%*s %7s", name) == 1)
            report_format = !strcmp(name, "csv") ? 1 : !strcmp(name, "json") ? 2 : 0;
    } else if (!strcmp(word, "volts")) {
        if (sscanf(line, "%*s %lf", &a) == 1 && a > 0) cal.volts_per_count = a;
    } else if (!strcmp(word, "amps")) {
        if (sscanf(line, "%*s %lf", &a) == 1 && a > 0) cal.amps_per_count = a;
    } else if (!strcmp(word, "phase")) {
        char *end;
        a = strtod(line + 5, &end);
        if (end != line + 5 && fabs(a) < 10.0) cal.phase_correction_deg = a;
    } else if (!strcmp(word, "ntc")) {
        if (sscanf(line, "%*s %lf %lf %lf %lf %lf %lf", &a, &b, &c, &d, &e, &f) == 6) {
            double t[3] = {a, c, e}, r[3] = {b, d, f}, coefficients[3];
            if (fit_steinhart(t, r, coefficients) == 0) memcpy(cal.steinhart, coefficients, sizeof coefficients);
            else printf("ntc: the points do not give a curve\n");
        }
    } else if (!strcmp(word, "tag")) {
        sscanf(line, "%*s %23s", cal.tag);
    } else if (!strcmp(word, "reset")) {
        energy_wh = 0;
    } else if (!strcmp(word, "cal")) {
        show_calibration();
    } else if (!strcmp(word, "time")) {
        struct tm t = {0};
        if (sscanf(line, "%*s %d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour, &t.tm_min,
                   &t.tm_sec) == 6) {
            t.tm_year -= 1900;
            t.tm_mon -= 1;
            time_t when = mktime(&t);
            printf("clock set: %ld s since 1970\n", (long)when);
        }
    } else {
        printf("commands: format text|csv|json, volts K, amps K, phase DEG, ntc T1 R1 T2 R2 T3 R3, tag NAME, "
               "reset, cal, time YYYY-MM-DD HH:MM:SS\n");
    }
}

/* The display's column bytes for a text line, as the LCD driver would take them. */
static size_t render(const char *text, uint8_t *columns, size_t size) {
    size_t n = 0;
    for (; *text && n + 6 <= size; ++text) {
        unsigned c = (unsigned char)*text;
        const uint8_t *glyph = font5x7[(c >= 0x20 && c < 0x7F) ? c - 0x20 : '?' - 0x20];
        memcpy(columns + n, glyph, 5);
        columns[n + 5] = 0;
        n += 6;
    }
    return n;
}

int main(void) {
    board_init();
    crc16_init();
    window_init();
    setvbuf(stdout, NULL, _IOLBF, 128);
    printf("power meter %s ready\n", cal.tag);
    char input[96];
    size_t used = 0;
    uint32_t last = millis();
    uint8_t columns[128];
    for (;;) {
        int ch;
        while ((ch = uart_get()) >= 0) {
            if (ch == '\r' || ch == '\n') {
                input[used] = 0;
                if (used) command(input);
                used = 0;
            } else if (used + 1 < sizeof input && isprint(ch)) {
                input[used++] = (char)ch;
            }
        }
        if (millis() - last >= 1000) {
            last += 1000;
            struct reading r;
            memset(&r, 0, sizeof r);
            measure(&r);
            report(&r);
            char text[24];
            snprintf(text, sizeof text, "%6.1fW %5.1fC", r.p_real, r.temperature_c);
            render(text, columns, sizeof columns);
            led_set(r.p_real > 0);
        }
    }
}
