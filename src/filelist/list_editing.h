#pragma once

namespace vellumax {

class FileList;

// Removal and clearing wait while the window is busy (its pointer is the hourglass).
void RemoveSelectedEntry(FileList& list, bool busy);
void ClearList(FileList& list, bool busy);

// Moving entries by dragging within the list: each step over another entry exchanges the
// dragged text with that entry's, so a slow drag carries the text along.
class InListDrag {
public:
    void Press() { buttonDown_ = true; }
    void Release() { buttonDown_ = false; }
    // A click on an entry makes the selected entry the one being moved.
    void ItemClick(int selectedPosition) { sourcePosition_ = selectedPosition; }

    // A pointer move over the entry at `hoverPosition` (0: no entry) at the screen row
    // `screenY`. Returns the position to scroll into view after an exchange, or 0.
    int Move(FileList& list, int hoverPosition, int screenY);

    bool buttonDown() const { return buttonDown_; }
    int sourcePosition() const { return sourcePosition_; }

private:
    bool buttonDown_ = false;
    int sourcePosition_ = 0;
};

}  // namespace vellumax
