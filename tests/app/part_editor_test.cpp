// The part editor, offscreen: the waveform of a known file, dragging the part's edges, typed
// times, the loop of "Play part" and OK writing the part into the file list.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>

#include "pipeline/settings.h"
#include "app/QtPartEditor.h"
#include "app/QtWaveformView.h"
#include "app/WizPage2_Files.h"
#include "sources/part_edit.h"
#include "sources/peak_scan.h"
#include "pipeline/job.h"
#include "qt_wizard_fixture.h"
#include "scripted_player.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::wizard;
using tolvane::test::ScriptedPlayer;

namespace {

// Ten seconds: five of silence, then five of loud noise with a tone (sox).
std::string silentThenLoud(const tolvane::test::TempDir& dir) {
    const std::string path = dir.file("half.wav");
    const auto r = tolvane::test::run({"sox", "-n", "-r", "22050", "-c", "1", "-b", "16", path,
                                       "synth", "5", "whitenoise", "vol", "0.7", "pad", "5", "0"});
    EXPECT_EQ(r.status, 0) << r.errors;
    return path;
}

void dragMouse(QWidget* widget, int fromX, int toX) {
    const int y = widget->height() / 2;
    const auto send = [&](QEvent::Type type, int x, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(x, y), widget->mapToGlobal(QPointF(x, y)), Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    };
    send(QEvent::MouseButtonPress, fromX, Qt::LeftButton);
    send(QEvent::MouseMove, (fromX + toX) / 2, Qt::LeftButton);
    send(QEvent::MouseMove, toX, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, toX, Qt::NoButton);
}

class PartEditorTest : public wizard::test::WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        if (!tolvane::test::haveTool("sox"))
            GTEST_SKIP() << "sox is needed to make the test sounds";
        entry_.path = silentThenLoud(dir_);
        entry_.duration = 10;
        entry_.id = 1;
    }
    std::unique_ptr<QtPartEditor> openEditor() {
        auto editor = std::make_unique<QtPartEditor>(
            entry_, [this]() -> pages::MarkerPlayer& { return player_; });
        editor->resize(640, 320);
        editor->show();
        EXPECT_TRUE(waitFor([&] { return editor->waveformReady(); }, 10000));
        return editor;
    }

    tolvane::test::TempDir dir_;
    FileEntry entry_;
    ScriptedPlayer player_;
};

}  // namespace

TEST(PartEdit, TypedTimesAndDraggedEdgesStayInsideTheFile) {
    FileEntry whole;
    whole.duration = 30;
    pages::PartEdit edit(whole, 30);
    EXPECT_EQ(edit.start(), 0);
    EXPECT_EQ(edit.length(), 30);
    edit.setStart(25);  // the length shrinks to what is left
    EXPECT_EQ(edit.length(), 5);
    edit.setLength(99);
    EXPECT_EQ(edit.length(), 5);
    edit.setStart(-4);
    EXPECT_EQ(edit.start(), 0);
    edit.dragEndTo(12'400);  // snaps to the nearest second
    EXPECT_EQ(edit.end(), 12);
    edit.dragStartTo(11'600);
    EXPECT_EQ(edit.start(), 11);  // the edges never cross: one second is left
    EXPECT_EQ(edit.length(), 1);
    edit.dragStartTo(2'499);
    EXPECT_EQ(edit.start(), 2);
    EXPECT_EQ(edit.end(), 12);
    edit.dragEndTo(1'000'000);
    EXPECT_EQ(edit.end(), 30);

    FileEntry marked;
    marked.partMarked = true;
    marked.partStart = 40;  // a stored part past the end is brought inside
    marked.partLength = 9;
    pages::PartEdit clamped(marked, 30);
    EXPECT_EQ(clamped.start(), 29);
    EXPECT_EQ(clamped.length(), 1);
}

TEST(PartEdit, TextsForClocksAndTheBar) {
    EXPECT_EQ(pages::clockText(205), "3:25");
    EXPECT_EQ(pages::clockText(3725), "1:02:05");
    FileEntry entry;
    entry.duration = 205;
    EXPECT_EQ(pages::partDescription(entry), "whole file, 3:25");
    entry.partMarked = true;
    entry.partStart = 12;
    entry.partLength = 6;
    EXPECT_EQ(pages::partDescription(entry), "part 12 s to 18 s of 3:25");
}

TEST_F(PartEditorTest, TheWaveformShowsTheSilentHalfAndTheLoudHalf) {
    const pages::Waveform scanned = pages::scanPeaks(entry_.path, 100);
    ASSERT_EQ(scanned.columns.size(), 100u);
    EXPECT_NEAR(double(scanned.durationMs), 10000.0, 20.0);
    for (int i = 0; i < 48; ++i)
        EXPECT_LT(scanned.columns[i].high, 0.001f) << i;  // sox dithers silence by one step
    for (int i = 52; i < 100; ++i)
        EXPECT_GT(scanned.columns[i].high, 0.5f) << i;

    auto editor = openEditor();
    QtWaveformView* view = editor->waveform();
    const QImage image = view->grab().toImage();
    // Columns a little above the middle line: background on the left, wave on the right.
    const int y = view->height() / 2 - view->height() / 6;
    const auto isWave = [&](int x) {
        const QColor c = image.pixelColor(x, y);
        return c.blue() > c.red();  // the wave is blue, the background grey, the shade red
    };
    int silentWave = 0;
    int loudWave = 0;
    for (int x = view->xOf(500); x < view->xOf(4500); ++x)
        silentWave += isWave(x);
    for (int x = view->xOf(5500); x < view->xOf(9500); ++x)
        loudWave += isWave(x);
    EXPECT_EQ(silentWave, 0);
    EXPECT_GT(loudWave, (view->xOf(9500) - view->xOf(5500)) * 9 / 10);
}

TEST_F(PartEditorTest, DraggingAnEdgeSnapsToWholeSecondsAndShowsTheTimes) {
    auto editor = openEditor();
    QtWaveformView* view = editor->waveform();
    dragMouse(view, view->xOf(0), view->xOf(3300));
    EXPECT_EQ(editor->part().start(), 3);
    EXPECT_EQ(editor->startBox()->value(), 3);
    EXPECT_EQ(editor->lengthBox()->value(), 7);
    dragMouse(view, view->xOf(10000), view->xOf(7800));
    EXPECT_EQ(editor->part().end(), 8);
    EXPECT_EQ(editor->lengthBox()->value(), 5);
    EXPECT_EQ(editor->timesLabel()->text(), "Start 0:03   End 0:08   Length 5 s");
    editor->waveform()->setPlayPosition(5400);
    // For looking at: TOLVANE_SCREENSHOT_DIR=/some/folder keeps a picture of the editor.
    if (const char* folder = std::getenv("TOLVANE_SCREENSHOT_DIR"))
        editor->grab().save(QString(folder) + "/part-editor.png");
    // A press away from both edges moves nothing.
    dragMouse(view, view->xOf(5500), view->xOf(1000));
    EXPECT_EQ(editor->part().start(), 3);
    EXPECT_EQ(editor->part().end(), 8);
}

TEST_F(PartEditorTest, TypedTimesMoveThePartAndAreKeptInsideTheFile) {
    auto editor = openEditor();
    QSpinBox* start = editor->startBox();
    QSpinBox* length = editor->lengthBox();
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, "6");
    EXPECT_EQ(editor->part().start(), 6);
    EXPECT_EQ(length->value(), 4);  // what is left of the file
    length->selectAll();
    QTest::keyClicks(length, "2");
    EXPECT_EQ(editor->part().length(), 2);
    EXPECT_EQ(editor->part().end(), 8);
    QTest::keyClick(start, Qt::Key_Up);
    EXPECT_EQ(editor->part().start(), 7);
    EXPECT_EQ(editor->part().length(), 2);
}

TEST_F(PartEditorTest, PlayPartLoopsUntilStopped) {
    auto editor = openEditor();
    editor->startBox()->setValue(2);
    editor->lengthBox()->setValue(3);
    QTest::mouseClick(editor->playButton(), Qt::LeftButton);
    EXPECT_TRUE(editor->looping());
    EXPECT_EQ(player_.opened, entry_.path);
    EXPECT_EQ(player_.seeks, std::vector<int>{2});
    EXPECT_EQ(editor->playButton()->text(), "&Stop");

    player_.at = 4;  // inside the part: plays on
    editor->followPlayback();
    EXPECT_EQ(player_.seeks.size(), 1u);
    player_.at = 5;  // the part's end: back to its start
    editor->followPlayback();
    EXPECT_EQ(player_.seeks, (std::vector<int>{2, 2}));
    player_.running = false;  // the file ended: opened and played again from the start
    editor->followPlayback();
    EXPECT_EQ(player_.plays, 2);
    EXPECT_EQ(player_.seeks.back(), 2);

    QTest::mouseClick(editor->playButton(), Qt::LeftButton);
    EXPECT_FALSE(editor->looping());
    EXPECT_FALSE(player_.running);
    EXPECT_EQ(editor->playButton()->text(), "&Play part");
}

TEST_F(PartEditorTest, OkOnTheFilesPageWritesThePartAndCancelKeepsIt) {
    start();
    clickNext();
    auto* files = page<WizPage2_Files>(kFiles);
    ASSERT_NE(files, nullptr);
    addFiles({QString::fromStdString(entry_.path)});
    files->setMarkerPlayer([this]() -> pages::MarkerPlayer& { return player_; });
    files->list()->topLevelItem(0)->setSelected(true);
    ASSERT_TRUE(files->editButton()->isEnabled());

    QtPartEditor* editor = files->openPartEditor();
    ASSERT_NE(editor, nullptr);
    editor->startBox()->setValue(4);
    editor->lengthBox()->setValue(3);
    editor->reject();
    EXPECT_FALSE(fileList().entries().front().partMarked);

    editor = files->openPartEditor();
    ASSERT_NE(editor, nullptr);
    editor->startBox()->setValue(4);
    editor->lengthBox()->setValue(3);
    editor->accept();
    const FileEntry& entry = fileList().entries().front();
    EXPECT_TRUE(entry.partMarked);
    EXPECT_EQ(entry.partStart, 4u);
    EXPECT_EQ(entry.partLength, 3u);
}

TEST_F(PartEditorTest, FadeBoxesAreStoredWithTheChoicesAndShownAgain) {
    start();
    clickNext();
    auto* files = page<WizPage2_Files>(kFiles);
    ASSERT_NE(files, nullptr);
    EXPECT_FALSE(files->fadeInBox()->isChecked());  // off on a first run
    EXPECT_FALSE(files->fadeOutBox()->isChecked());
    QTest::mouseClick(files->fadeOutBox(), Qt::LeftButton);
    Settings stored;
    stored.load();
    EXPECT_EQ(stored.fadeInMs(), 0u);
    EXPECT_EQ(stored.fadeOutMs(), 1500u);

    stored.setFadeInMs(500);
    clickBack();
    clickNext();  // the page loads the choices again when it is shown
    EXPECT_TRUE(files->fadeInBox()->isChecked());
    EXPECT_TRUE(files->fadeOutBox()->isChecked());
    QTest::mouseClick(files->fadeOutBox(), Qt::LeftButton);
    stored.load();
    EXPECT_EQ(stored.fadeOutMs(), 0u);
}
