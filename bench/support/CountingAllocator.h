// Allocation counting for bench_memory alone: that program replaces the
// global operator new and delete and hands pugixml counting functions, so
// every heap byte of the process (the client, the framework, the XML
// library) is counted. Nothing here is part of a library.
#pragma once

#include <cstddef>

namespace zobench {

struct HeapCounts {
    long long liveBytes;    // allocated and not yet freed (usable sizes)
    long long peakBytes;    // the highest liveBytes since the last ResetPeak
    long long allocations;  // every allocation since the start
};

HeapCounts Heap();
// Sets the peak to the current live bytes.
void ResetPeak();
// Routes pugixml's allocations through the counter (call before any parse).
void CountPugixml();

}  // namespace zobench
