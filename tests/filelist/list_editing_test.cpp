#include "filelist/list_editing.h"

#include <gtest/gtest.h>

#include "filelist/file_list.h"
#include "test_support.h"

namespace vellumax {
namespace {

using testing::Texts;

class ListEditingTest : public ::testing::Test {
protected:
    void Fill(const QStringList& texts) {
        for (const QString& text : texts) {
            list.Append(text);
        }
    }
    // A press on the entry at `position`, as the view reports it: selection, then item click.
    void PressOn(int position) {
        drag.Press();
        list.Select(position);
        drag.ItemClick(list.SelectedPosition());
    }
    FileList list;
    InListDrag drag;
    static constexpr int kMiddleRow = 330;  // between the scrolling thresholds
};

TEST_F(ListEditingTest, RemovesTheSelectedEntryUnlessBusyEmptyOrNothingIsSelected) {
    Fill({"/a", "/b", "/c"});
    RemoveSelectedEntry(list, false);
    EXPECT_EQ(Texts(list), QStringList({"/a", "/b", "/c"})) << "nothing selected";

    list.Select(2);
    RemoveSelectedEntry(list, true);
    EXPECT_EQ(list.Count(), 3) << "busy";
    RemoveSelectedEntry(list, false);
    EXPECT_EQ(Texts(list), QStringList({"/a", "/c"}));

    FileList empty;
    RemoveSelectedEntry(empty, false);
    EXPECT_EQ(empty.Count(), 0);
}

TEST_F(ListEditingTest, ClearingWaitsWhileBusy) {
    Fill({"/a", "/b"});
    ClearList(list, true);
    EXPECT_EQ(list.Count(), 2);
    ClearList(list, false);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(ListEditingTest, ASlowDragCarriesTheTextDownAndMovesTheOthersUp) {
    Fill({"/1", "/2", "/3", "/4", "/5"});
    PressOn(2);
    for (int hover : {2, 3, 4, 5}) {
        drag.Move(list, hover, kMiddleRow);
    }
    EXPECT_EQ(Texts(list), QStringList({"/1", "/3", "/4", "/5", "/2"}));
    EXPECT_EQ(list.SelectedPosition(), 5) << "the entry under the pointer holds the dragged text";
}

TEST_F(ListEditingTest, AJumpExchangesOnlyTheTwoEntries) {
    Fill({"/1", "/2", "/3", "/4", "/5"});
    PressOn(2);
    drag.Move(list, 5, kMiddleRow);
    EXPECT_EQ(Texts(list), QStringList({"/1", "/5", "/3", "/4", "/2"}));
}

TEST_F(ListEditingTest, EqualTextsAreNeverExchanged) {
    Fill({"/same", "/same", "/other"});
    PressOn(1);
    drag.Move(list, 2, kMiddleRow);
    EXPECT_EQ(drag.sourcePosition(), 1);
    EXPECT_EQ(list.SelectedPosition(), 1);
}

TEST_F(ListEditingTest, MovesWithoutAPressedButtonOrADragSourceChangeNothing) {
    Fill({"/1", "/2"});
    drag.Press();  // on an empty part of the list: no item click
    drag.Move(list, 2, kMiddleRow);
    EXPECT_EQ(Texts(list), QStringList({"/1", "/2"}));

    PressOn(1);
    drag.Release();
    drag.Move(list, 2, kMiddleRow);
    EXPECT_EQ(Texts(list), QStringList({"/1", "/2"}));
    drag.Press();
    drag.Move(list, 0, kMiddleRow);  // over no entry
    EXPECT_EQ(Texts(list), QStringList({"/1", "/2"}));
}

struct ScrollCase {
    int screenRow;
    int hover;
    int revealed;
};
void PrintTo(const ScrollCase& scroll, std::ostream* out) {
    *out << "row" << scroll.screenRow << "_hover" << scroll.hover;
}
class DragScrollTest : public ListEditingTest, public ::testing::WithParamInterface<ScrollCase> {};
TEST_P(DragScrollTest, NearTheScreensTopOrBottomTheNeighbourIsRevealed) {
    Fill({"/1", "/2", "/3", "/4", "/5"});
    PressOn(3);
    EXPECT_EQ(drag.Move(list, GetParam().hover, GetParam().screenRow), GetParam().revealed);
}
INSTANTIATE_TEST_SUITE_P(Rows, DragScrollTest,
                         ::testing::Values(ScrollCase{304, 2, 1}, ScrollCase{305, 2, 0},
                                           ScrollCase{364, 4, 0}, ScrollCase{365, 4, 5},
                                           ScrollCase{365, 5, 0}, ScrollCase{0, 1, 0}));

TEST(IsListedTest, ComparesWholeTextsExactly) {
    FileList list;
    EXPECT_FALSE(IsListed(list, "/a.mdi"));
    list.Append("/A.mdi");
    list.Append("/b.mdi");
    list.Append("/b.mdi");
    EXPECT_FALSE(IsListed(list, "/a.mdi"));
    EXPECT_FALSE(IsListed(list, "/A.mdi "));
    EXPECT_TRUE(IsListed(list, "/A.mdi"));
    EXPECT_TRUE(IsListed(list, "/b.mdi"));
}

}  // namespace
}  // namespace vellumax
