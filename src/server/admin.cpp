// The operator's commands: list, show, hide, unhide and export entries, back up the database.
#include "server/admin.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "server/entry_store.h"
#include "server/labels.h"

namespace qlan::server {
namespace {

constexpr char kAdminUsage[] =
    "usage: qlan-ranking-server admin --db FILE COMMAND\n"
    "  list [--route N] [--last N]  the newest entries (20 unless --last), newest first\n"
    "  show ID                      an entry, its rank, its replay's size, its withdrawals\n"
    "  hide ID REASON               withdraw an entry: it leaves the table, every page and\n"
    "                               the replay download; nothing is deleted\n"
    "  unhide ID                    bring a withdrawn entry back\n"
    "  export ID FILE               write the entry's stored replay to the new FILE\n"
    "  backup FILE                  a consistent copy of the database into the new FILE,\n"
    "                               while the server runs\n";

// C0 controls, DEL and C1 controls (as UTF-8): what could drive a terminal or forge a line.
std::size_t ControlLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  if (byte(at) < 0x20 || byte(at) == 0x7F) return 1;
  return byte(at) == 0xC2 && at + 1 < text.size() && byte(at + 1) >= 0x80 && byte(at + 1) < 0xA0
             ? 2
             : 0;
}

bool HasControl(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ControlLength(text, i) != 0) return true;
  }
  return false;
}

// Stored text as the operator's terminal may show it: controls and backslashes escaped.
std::string Printable(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t n = text[i] == '\\' ? 1 : ControlLength(text, i);
    if (n == 0) out += text[i];
    for (std::size_t k = 0; k < n; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      out += std::string("\\x") + "0123456789abcdef"[c >> 4] + "0123456789abcdef"[c & 15];
    }
    i += n == 0 ? 0 : n - 1;
  }
  return out;
}

// The path with its folder resolved (symlinks, "..") and its own name kept; "" when the
// folder does not resolve.
std::string Resolved(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  char real[PATH_MAX];
  if (realpath(folder.c_str(), real) == nullptr) return "";
  return std::string(real) + "/" + path.substr(slash == std::string::npos ? 0 : slash + 1);
}

// Creates the file new for the command's output: an existing path, a symlink, the database
// or a file SQLite keeps beside it (existing now or not) is refused. The descriptor, or -1
// with the reason in *err.
int CreateNew(const std::string& path, const std::string& db, mode_t mode, std::string* err) {
  const std::string target = Resolved(path);
  char real[PATH_MAX];
  for (const std::string& base :
       {Resolved(db), std::string(realpath(db.c_str(), real) ? real : "")}) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      if (!target.empty() && target == base + suffix) {
        *err += "refused: " + path + " is the database or one of its files\n";
        return -1;
      }
    }
  }
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) *err += "cannot create " + path + ": " + std::strerror(errno) + "\n";
  return fd;
}

std::string EntryLine(const StoredEntry& e) {
  return Printable(e.id) + "  R " + std::to_string(e.route) + "  " + DistanceLabel(e.distance) +
         "  " + TimeLabel(e.timeTicks) + "  " + JapanDateText(e.created) +
         (e.hidden ? "  withdrawn" : "") + "\n";
}

// A whole decimal number within low..high; false otherwise.
bool Number(const std::string& text, std::uint32_t low, std::uint32_t high, std::uint32_t* out) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *out = static_cast<std::uint32_t>(std::stoul(text));
  return *out >= low && *out <= high;
}

struct Admin {
  EntryStore& store;
  std::string& out;
  std::string& err;

  // 0, or 1 with the reason in err.
  int Check(StoreResult result, const std::string& id) {
    if (result == StoreResult::kOk) return 0;
    err +=
        result == StoreResult::kNotFound ? "no entry " + id + "\n" : "cannot read the database\n";
    return 1;
  }

  int List(std::uint32_t route, std::uint32_t last) {
    std::vector<StoredEntry> rows;
    if (Check(store.Latest(route, last, &rows), "") != 0) return 1;
    for (const StoredEntry& e : rows) out += EntryLine(e);
    return 0;
  }

  int Show(const std::string& id) {
    StoredEntry e;
    std::uint32_t rank = 0;
    std::uint32_t count = 0;
    std::string replay;
    std::vector<ModerationEvent> events;
    if (Check(store.Find(id, &e, &rank, &count), id) != 0 ||
        Check(store.Replay(id, &e, &replay), id) != 0 ||
        Check(store.History(id, &events), id) != 0) {
      return 1;
    }
    out += EntryLine(e);
    const std::string shown = std::to_string(count) + " on R " + std::to_string(e.route);
    out += e.hidden ? "not ranked (" + shown + " shown)"
                    : "rank " + std::to_string(rank) + " of " + shown;
    out += ", replay " + std::to_string(replay.size()) + " bytes\n";
    for (const ModerationEvent& m : events) {
      out += JapanDateText(m.at) +
             (m.hidden ? "  withdrawn: " + Printable(m.reason) : "  returned") + "\n";
    }
    return 0;
  }

  int SetHidden(const std::string& id, bool hidden, const std::string& reason, std::int64_t now) {
    const StoreResult result = store.SetHidden(id, hidden, reason, now);
    if (result == StoreResult::kUnchanged) {
      err += id + (hidden ? " is withdrawn already" : " is not withdrawn") + "; nothing changed\n";
      return 1;
    }
    if (result == StoreResult::kFailed) {
      err += "cannot write the database\n";
      return 1;
    }
    if (Check(result, id) != 0) return 1;
    out += (hidden ? "withdrew " : "returned ") + id + "\n";
    return 0;
  }

  int Export(const std::string& id, const std::string& path, const std::string& db) {
    StoredEntry e;
    std::string replay;
    if (Check(store.Replay(id, &e, &replay), id) != 0) return 1;
    const int fd = CreateNew(path, db, 0644, &err);
    if (fd < 0) return 1;
    std::size_t done = 0;
    ssize_t n = 0;
    while (done < replay.size() &&
           ((n = write(fd, replay.data() + done, replay.size() - done)) > 0 || errno == EINTR)) {
      done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    if (close(fd) != 0 || done < replay.size()) {
      err += "cannot write " + path + ": " + std::strerror(errno) + "\n";
      unlink(path.c_str());
      return 1;
    }
    out += "wrote " + std::to_string(replay.size()) + " bytes (R " + std::to_string(e.route) +
           ") to " + path + "\n";
    return 0;
  }

  int Backup(const std::string& path, const std::string& db) {
    const int fd = CreateNew(path, db, 0600, &err);
    if (fd < 0) return 1;
    close(fd);
    std::string error;
    if (!store.Backup(path, &error)) {
      err += "cannot back up to " + path + ": " + error + "\n";
      unlink(path.c_str());
      return 1;
    }
    out += "backed up " + db + " to " + path + "\n";
    return 0;
  }
};

}  // namespace

int RunAdmin(const std::vector<std::string>& args, std::int64_t now, std::string* out,
             std::string* err) {
  const auto usage = [err](const std::string& message) {
    *err += message + "\n" + kAdminUsage;
    return 2;
  };
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    *out += kAdminUsage;
    return 0;
  }
  if (args.size() < 3 || args[0] != "--db") return usage("--db FILE and a command are needed");
  const std::string& path = args[1];
  const std::string& command = args[2];
  const std::vector<std::string> rest(args.begin() + 3, args.end());
  std::uint32_t route = 0;
  std::uint32_t last = 20;
  if (command == "list") {
    for (std::size_t i = 0; i < rest.size(); i += 2) {
      const bool known =
          i + 1 < rest.size() && (rest[i] == "--route"  ? Number(rest[i + 1], 710, 749, &route)
                                  : rest[i] == "--last" ? Number(rest[i + 1], 1, 100000, &last)
                                                        : false);
      if (!known) return usage("list takes --route 710..749 and --last 1..100000");
    }
  } else {
    const std::size_t words = command == "show" || command == "unhide" || command == "backup" ? 1
                              : command == "hide" || command == "export"                      ? 2
                                                                                              : 0;
    if (words == 0 || rest.size() != words) {
      return usage("unknown command or wrong arguments: " + command);
    }
  }
  if (command == "hide" && rest[1].empty()) return usage("hide needs a reason");
  if (command == "hide" && HasControl(rest[1])) {
    return usage("the reason may not hold control characters (escapes, line ends)");
  }
  // Opening creates a missing database; a mistyped path must not make an empty one.
  if (access(path.c_str(), F_OK) != 0) {
    *err += "no database at " + path + "\n";
    return 1;
  }
  // Reading commands take no write lock, so they answer while the server writes and work
  // on a read-only copy.
  const bool writes = command == "hide" || command == "unhide";
  EntryStore store;
  std::string error;
  if (!(writes ? store.Open(path, true, &error) : store.OpenReadOnly(path, &error))) {
    *err += error + ": " + path + "\n";
    return 1;
  }
  if (!store.UpgradeNote().empty()) *out += path + ": " + store.UpgradeNote() + "\n";
  Admin admin{store, *out, *err};
  if (command == "list") return admin.List(route, last);
  if (command == "show") return admin.Show(rest[0]);
  if (command == "export") return admin.Export(rest[0], rest[1], path);
  if (command == "backup") return admin.Backup(rest[0], path);
  return admin.SetHidden(rest[0], command == "hide", command == "hide" ? rest[1] : "", now);
}

}  // namespace qlan::server
