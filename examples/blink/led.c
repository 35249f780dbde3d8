/* led.c: drives one LED. */
#include "led.h"

static const unsigned short periods[3] = { 100, 250, 500 };

void led_init(struct led *l, unsigned char *port, unsigned char mask)
{
    l->port = port;
    l->mask = mask;
    l->mode = LED_BLINK;
    l->period = periods[1];
    l->phase = 0;
}

int led_step(struct led *l, unsigned int now)
{
    unsigned short phase;
    int on;

    phase = now % l->period;
    on = phase < l->period / 2;
    if (l->mode != LED_BLINK)
        on = l->mode == LED_ON;
    l->phase = phase;
    return on;
}

void led_set_mode(struct led *l, enum led_mode mode)
{
    l->mode = mode;
    l->phase = 0;
}
