/* main.c: blinks two LEDs on port A of an SH7032. */
#include "led.h"

#define PORT_A ((unsigned char *)0x05FFFFC1) /* PADR, low byte */

struct led leds[2];
unsigned int ticks; /* counted up by a timer interrupt */

static void wait(unsigned int until);

int main(void)
{
    unsigned int now;
    int i;

    led_init(&leds[0], PORT_A, 0x01);
    led_init(&leds[1], PORT_A, 0x02);
    led_set_mode(&leds[1], LED_ON);
    for (;;) {
        now = ticks;
        for (i = 0; i < 2; i++)
            if (led_step(&leds[i], now) != led_lit(&leds[i]))
                *leds[i].port ^= leds[i].mask;
        wait(now + 1);
    }
}

static void wait(unsigned int until)
{
    unsigned int t;

    do
        t = ticks;
    while (t < until);
}
