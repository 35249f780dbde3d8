/* led.h: LEDs on output ports, each blinking with a period of its own. */
#ifndef LED_H
#define LED_H

enum led_mode { LED_OFF, LED_ON, LED_BLINK };

struct led {
    unsigned char *port;   /* the output port the LED is wired to */
    unsigned char mask;    /* its bit in the port */
    enum led_mode mode;
    unsigned short period; /* blink period in ticks */
    unsigned short phase;  /* ticks into the period */
};

static inline int led_lit(const struct led *l)
{
    return (*l->port & l->mask) != 0;
}

void led_init(struct led *l, unsigned char *port, unsigned char mask);
int led_step(struct led *l, unsigned int now);
void led_set_mode(struct led *l, enum led_mode mode);

#endif
