#pragma once

namespace server {

/// Sets the C allocator up for a server process. A call with a large list
/// (a tick-all, a cancellation, the version check of 50,000 entries) makes
/// and frees some 100 MB of small blocks on a worker thread; by default the
/// allocator hands most of it back to the system after the call and takes
/// it again, page fault by page fault, on the next one. Kept, the same call
/// runs about twice as fast. The memory kept is bounded: up to 64 MB free
/// at the top of each of at most 8 arenas, blocks of up to 32 MB taken from
/// the arenas rather than mapped apart. Called once, before any thread
/// starts, by the server's entry point (and by benchmarks that measure it).
void tuneAllocator();

/// Hands the memory freed so far back to the system (all arenas, free pages
/// within them too). Called after a call with a large body, whose decoded
/// rows would otherwise stay with the process, kept for the next such call.
void giveBackFreedMemory();

} // namespace server
