// Gives the memory that the process has freed back to the operating system.
//
//   server.answer(request);
//   release_free_memory();   // what the request freed no longer counts against the editor
//
// The allocator keeps freed pages for later allocations; a process that lives as long as the
// editor and spends most of its life idle should not hold a whole request's worth of them.
#pragma once

namespace korvane {

void release_free_memory();

}  // namespace korvane
