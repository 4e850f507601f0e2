// The fault layer's record of what a power cut could still take back: file contents written
// since their last fsync, and names made, replaced or removed in a folder since that folder's
// last fsync. The layer calls it around each counted operation; tests/fault/PowerLoss.cpp
// reads the record after the program was killed and puts the files in such a state.
//
// Lines of DIR/journal, tab-separated, in the order the operations were done:
//   W SEQ PATH            PATH is written to; DIR/SEQ.data holds its bytes before that
//                         (written only for the first write since PATH was last synced)
//   S SEQ PATH            PATH's data synced (fsync or fdatasync of a file)
//   Y SEQ DIR             a folder synced (fsync of the folder)
//   C SEQ PATH            a new file made
//   M SEQ PATH            a new folder made
//   R SEQ FROM TO HAD     FROM renamed to TO; HAD 1 when TO existed, kept as DIR/SEQ.old
//   U SEQ PATH            PATH unlinked; its file kept as DIR/SEQ.old
//   D SEQ PATH            a folder removed
//   L SEQ FROM TO         a hard link TO made to FROM
#pragma once

namespace zelfault {

// DIR from ZEL_FAULT_POWERLOSS; nothing is recorded without it.
void JournalOpen(const char* dir);
bool JournalActive();

// Around an operation the layer counts: `kind` and the paths as the layer names them, `seq`
// the operation's number in the trace, `result` what the call returned.
void JournalBefore(const char* kind, const char* path, const char* path2, long seq);
void JournalAfter(const char* kind, const char* path, const char* path2, long seq, long result);

}  // namespace zelfault
