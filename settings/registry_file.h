#pragma once

// The backing file of the registry: one read-modify-write per settings operation.
//
//  - Every update re-reads the file under an exclusive flock on "<file>.lock" (a separate file,
//    because the rename below replaces the data file's inode), so a hand edit is seen by the
//    next operation and a write never carries back values read before it. The lock is waited
//    for about 2 s at most: while another program holds it, changes stay in memory (one
//    warning) and the window goes on.
//  - A changed document is written to "<file>.tmp", fsynced, renamed over the file and the
//    directory fsynced: a crash leaves the old file or the new one, never a mix. A symbolic link
//    is written through (the file it names is replaced, the link stays); an existing file keeps
//    its mode, a new one gets 0600; missing directories are created 0700. A failed write is
//    warned about once.
//  - A missing file is an empty registry. A file that can't be parsed reads as an empty
//    registry too; before the first write replaces it, its bytes are kept as
//    "<file>.bad-<UTC time>" (never overwriting an existing backup; no backup, no write), and
//    one warning goes to the warning sink.

#include <filesystem>
#include <functional>
#include <string>

#include "settings/registry.h"

namespace hopwise {

// The last document read or written and the exact bytes it stands for. Every operation still
// reads the whole file, but parses it only when those bytes changed: a long history then costs
// a read and a comparison, and a hand edit is still seen by the next operation.
struct RegistryFileCache {
    bool valid = false;
    bool lockGaveUp = false; // the last wait for the lock ran out
    std::string bytes;
    RegistryDocument document;
};

// Runs operation on the file's current document and saves the document when the operation
// changed it. False when a change could not be saved (the file is then left as it was). The
// operation may run twice (once before the directory exists), so it must set its results
// rather than accumulate them.
bool UpdateRegistryFile(const std::filesystem::path& file, RegistryFileCache& cache,
                        const std::function<void(Registry&)>& operation);

} // namespace hopwise
