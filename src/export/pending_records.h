#pragma once
// Records that could not be appended to their CSV file yet (missing folder,
// file locked, disk full). They wait here, oldest first, until the file can be
// written, and each target's lines are also kept in a spool file in the
// configuration folder, so that they survive a restart of the station.
//
// Spool file "karvelo-pending-<file name>-<hash of the path>.spool", replaced
// atomically on every change and removed once its lines are in the target:
//
//   karvelo pending records
//   target <path of the CSV file>
//   check <offset> <length>
//   <the waiting lines, byte for byte as they go into the file>
//
// `check` is set (offset >= 0) while the first `length` bytes are being
// appended at that offset, or when it is unknown whether an append reached the
// disk: the next attempt looks for them there and does not write them twice.
//
// The target kUnnamedTarget (an empty path) holds the lines of a collecting
// export that has no file name yet; they go to the file the operator names.
//
// User-interface thread only.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace karvelo::exports {

// Lines waiting for a file that has not been named yet.
inline const std::string kUnnamedTarget;

struct PendingLines {
    std::string bytes;              // complete lines, oldest first
    std::int64_t checkOffset = -1;  // where a prefix may already be in the target
    std::size_t checkLength = 0;    // the length of that prefix
    std::string problem;            // why the lines are waiting, for the operator
    bool persisted = false;         // whether the spool file holds them
    std::string spoolProblem;       // why not, when it does not

    // The number of records waiting (each record is one line).
    int Records() const;
};

class PendingStore {
  public:
    // Spool files live in `folder` (a path ending in '/'); an empty folder keeps
    // the lines in memory only. Reads the spool files found there.
    explicit PendingStore(std::string folder);

    const std::string& folder() const { return folder_; }

    // The lines waiting for `target`, or nullptr.
    const PendingLines* Find(const std::string& target) const;
    // Every target with waiting lines, in path order.
    std::vector<std::string> Targets() const;

    // Sets what waits for `target` and writes its spool file; false when the
    // spool could not be written (the lines are then kept in memory only).
    bool Keep(const std::string& target, PendingLines lines);
    // Notes a new reason for waiting, without touching the spool file.
    void SetProblem(const std::string& target, const std::string& problem);
    // The lines are in the target now: forgets them and removes the spool file.
    void Clear(const std::string& target);
    // Hands the lines waiting for `from` over to `to`, which must have none;
    // they then go out with `to`'s next append. The spool file is rewritten in
    // place and renamed, so a stop halfway leaves the lines under one target,
    // never under both. False (nothing changed) when `to` has lines already or
    // the spool cannot be changed.
    bool Move(const std::string& from, const std::string& to);

    // The spool file of a target; empty without a folder.
    std::string SpoolPath(const std::string& target) const;

  private:
    void LoadSpools();
    // Takes in a spool file found under another target's name (a Move that
    // stopped between its two steps); false when it cannot be.
    bool AdoptMisnamedSpool(const std::string& path, const std::string& target);

    std::string folder_;
    std::map<std::string, PendingLines> lines_;
};

// The station's store, for the spool folder ConfigDir. Loaded on first use and
// again whenever ConfigDir changes.
PendingStore& PendingRecords();

// Forgets the store, so that the next use reads the spool files again (as a
// restart of the station would).
void ReloadPendingRecords();

}  // namespace karvelo::exports
