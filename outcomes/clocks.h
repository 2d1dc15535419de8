// The two processor-time clocks: the step clock (self plus waited-for children)
// and the check clock (self only, in microseconds, for durations kept in a certificate).
#pragma once

namespace clocks {

// User plus system time of the process and of its terminated, waited-for children, in seconds.
double stepSeconds();

// Processor time of the process alone, in microseconds (the standard clock()).
double checkMicros();

// Seconds elapsed on the check clock since a reading taken with checkMicros().
inline double checkSecondsSince(double startMicros) { return (checkMicros() - startMicros) / 1000000.0; }

}  // namespace clocks
