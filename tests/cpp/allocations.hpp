// The test binary's own operator new (test_graph_diff.cpp): it can be made to
// fail, and it counts the blocks it has handed out and not yet taken back.
#pragma once

// Every allocation fails once this many have succeeded; negative: none fails.
extern long g_allocations_left;
extern long g_live_blocks;
