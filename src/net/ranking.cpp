// The ranking server's host name and the tool's user-agent text.
#include "net/ranking.h"

namespace qlan {

const char* const RankingHost = QLAN_RANKING_HOST;
const char* const UserAgent = "QuillaneTool/050702";

}  // namespace qlan
