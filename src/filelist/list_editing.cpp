#include "filelist/list_editing.h"

#include "filelist/file_list.h"

namespace vellumax {

namespace {
// Screen rows (pixels from the top of the screen) beyond which a drag scrolls the list.
constexpr int kScrollUpBelowRow = 305;
constexpr int kScrollDownAboveRow = 364;
}  // namespace

void RemoveSelectedEntry(FileList& list, bool busy) {
    if (busy || list.Count() == 0) {
        return;
    }
    if (const int selected = list.SelectedPosition(); selected > 0) {
        list.Remove(selected);
    }
}

void ClearList(FileList& list, bool busy) {
    if (!busy) {
        list.Clear();
    }
}

int InListDrag::Move(FileList& list, int hoverPosition, int screenY) {
    if (!buttonDown_ || hoverPosition < 1 || sourcePosition_ < 1 ||
        sourcePosition_ > list.Count() || hoverPosition > list.Count()) {
        return 0;
    }
    const QString dragged = list.Text(sourcePosition_);
    if (dragged == list.Text(hoverPosition)) {
        return 0;
    }
    list.SetText(sourcePosition_, list.Text(hoverPosition));
    list.SetText(hoverPosition, dragged);
    list.Select(hoverPosition);
    sourcePosition_ = hoverPosition;
    if (screenY < kScrollUpBelowRow && hoverPosition >= 2) {
        return hoverPosition - 1;
    }
    if (screenY > kScrollDownAboveRow && hoverPosition < list.Count()) {
        return hoverPosition + 1;
    }
    return 0;
}

}  // namespace vellumax
