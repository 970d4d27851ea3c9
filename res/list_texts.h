// The texts of the panel's two lists and its jumper buttons, shared by varnolt.rc and by the web
// panel, which shows the same lists. Only #defines: windres reads it.
#ifndef VARNOLT_LIST_TEXTS_H
#define VARNOLT_LIST_TEXTS_H

#define VARNOLT_TEXT_SINE_WAVE "Sine Wave"
#define VARNOLT_TEXT_SQUARE_WAVE "Square Wave"
#define VARNOLT_TEXT_TRIANGLE_WAVE "Triangle Wave"
#define VARNOLT_TEXT_SAW_TOOTH_WAVE "Saw Tooth Wave"
#define VARNOLT_TEXT_REVERSED_SAW_WAVE "Reversed Saw Wave"
#define VARNOLT_TEXT_RANDOM_WAVE "Random Wave"
#define VARNOLT_TEXT_ZERO_CALIBRATION "Zero Calibration"
#define VARNOLT_TEXT_SPW_360 "360SPW ->14kHz max"
#define VARNOLT_TEXT_SPW_180 "180SPW ->28kHz max"
#define VARNOLT_TEXT_SPW_90 "90SPW ->56kHz max"
#define VARNOLT_TEXT_SPW_45 "45SPW ->112kHz max"
#define VARNOLT_TEXT_SPW_24 "24SPW ->200kHz max"
#define VARNOLT_TEXT_J1 "J1(x2)"
#define VARNOLT_TEXT_J2 "J2(x1.5)"
#define VARNOLT_TEXT_J3 "J3(x1)"
#define VARNOLT_TEXT_J4 "J4(x0.5)"

#endif
