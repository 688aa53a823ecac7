// The record list's lines and the erase flow.
#include "ui/records_flow.h"

#include <cstdio>

#include "records/erase.h"
#include "records/record_list.h"
#include "ui/messages.h"
#include "ui/resource.h"

namespace qlan {

void RebuildRecordList(WindowSystem& window) {
  ScanRecords();
  window.ClearList(IDC_RECORD_LIST);
  for (int k = 0; k < g_recordList.count; ++k) {
    const RecordEntry& entry = g_recordList.entries[k];
    char line[64];
    (void)std::snprintf(line, sizeof line, "R %d:  %s %s", kFirstRoute + entry.routeIndex,
                        FormatDistance(entry.distance), FormatTime(entry.time));
    window.AddListLine(IDC_RECORD_LIST, line);
  }
  if (g_recordList.count > 0) window.SetListSelection(IDC_RECORD_LIST, 0);
}

void RunEraseSequence(WindowSystem& window) {
  constexpr unsigned kQuestion = kMbOkCancel | kMbIconExclamation | kMbSetForeground;
  if (window.ShowMessage(text::kEraseFirstQuestion, text::kEraseCaption, kQuestion) == kIdOk &&
      window.ShowMessage(text::kEraseSecondQuestion, text::kEraseCaption, kQuestion) == kIdOk) {
    window.ShowMessage(EraseAllRecords() == 0 ? text::kEraseDone : text::kEraseFailed,
                       text::kEraseCaption, kMbOk | kMbIconInformation);
  }
  RebuildRecordList(window);
}

}  // namespace qlan
