#ifndef TIMELIB_PROC_TAITOUTC_H
#define TIMELIB_PROC_TAITOUTC_H

// TAI - UTC is modelled as a smooth quadratic in the date (no leap-second
// table): delta(J) = 0.2685 t^2 / 100 - 32.18 seconds, t = (J - 2394566.0) / 365.25.

// UTC Julian day of the instant given as a TAI Julian day.
double TAItoUTC(double taiJulianDay);

// TAI - UTC in days at the given UTC Julian day (add it to obtain TAI).
double UTC_TAI_delta(double utcJulianDay);

#endif
