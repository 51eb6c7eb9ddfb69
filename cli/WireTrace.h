#pragma once

// Prints every byte in and out on standard error, in hex with times, for field reports.
void EnableWireTrace();

// Watches the latency timer of the USB adapters the job opens: when one stays above 1 ms (low-
// latency mode was not taken and the timer could not be written), one line of advice on
// standard error, once; with trace, the value at every open.
void WatchAdapterLatency(bool trace);
