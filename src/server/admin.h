// The operator's commands on the ranking database ("qlan-ranking-server admin ..."). They
// work while the server runs: each change is one commit, which the server sees before it
// serves its next table or page.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace qlan::server {

// Runs the command in args (what follows "admin" on the command line); now is the time a
// withdrawal or return is recorded with. What it prints goes to *out, errors to *err.
// The exit code: 0 done, 1 failed (no such entry, nothing changed, a database or file
// error), 2 a usage error.
int RunAdmin(const std::vector<std::string>& args, std::int64_t now, std::string* out,
             std::string* err);

}  // namespace qlan::server
