// The window's dialog stand-ins that need no display: the chooser filters,
// the default extension, the test twins' rules, box text and file drops.
#include "platform/file_dialog.h"
#include "platform/fltk_drop_files.h"
#include "platform/fltk_file_dialog.h"
#include "platform/fltk_message_box.h"
#include "platform/popup_menu.h"

#include <FL/Fl.H>
#include <FL/filename.H>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The filters as the chooser gets them: the names as the user reads them,
// one line each.
std::vector<std::string> FilterLines(const FileDialogRequest &req) {
  std::vector<std::string> aLines;
  std::istringstream in(FltkFilterText(req));
  for (std::string sLine; std::getline(in, sLine);)
    aLines.push_back(sLine);
  return aLines;
}

TEST(FltkFileDialog, OpenFiltersMatchEitherCase) {
  std::vector<std::string> aLines = FilterLines(kOpenMidiRequest);
  ASSERT_EQ(aLines.size(), 3u);
  EXPECT_EQ(aLines[0].substr(0, aLines[0].find('\t')), "MIDI files {*.mid}");
  EXPECT_EQ(aLines[1].substr(0, aLines[1].find('\t')), "MIDI files {*.RMI}");
  EXPECT_EQ(aLines[2].substr(0, aLines[2].find('\t')), "All files {*.*}");
  std::string sMid = aLines[0].substr(aLines[0].find('\t') + 1);
  std::string sRmi = aLines[1].substr(aLines[1].find('\t') + 1);
  std::string sAll = aLines[2].substr(aLines[2].find('\t') + 1);
  EXPECT_TRUE(fl_filename_match("song.mid", sMid.c_str()));
  EXPECT_TRUE(fl_filename_match("SONG.MID", sMid.c_str()));
  EXPECT_FALSE(fl_filename_match("song.midi", sMid.c_str()));
  EXPECT_TRUE(fl_filename_match("Song.Rmi", sRmi.c_str()));
  EXPECT_TRUE(fl_filename_match("README", sAll.c_str())); // every file, dot or none
}

TEST(FltkFileDialog, SaveFiltersAreTheRecorders) {
  std::vector<std::string> aLines = FilterLines(kSaveWavRequest);
  ASSERT_EQ(aLines.size(), 2u);
  EXPECT_EQ(aLines[0].substr(0, aLines[0].find('\t')), "Sound Object files {*.wav}");
  EXPECT_TRUE(fl_filename_match("TAKE.WAV", aLines[0].substr(aLines[0].find('\t') + 1).c_str()));
  EXPECT_TRUE(kSaveWavRequest.bOverwritePrompt);
  EXPECT_FALSE(kOpenMidiRequest.bOverwritePrompt);
  EXPECT_TRUE(kOpenMidiRequest.bMustExist);
}

TEST(FileDialog, AddsTheDefaultExtensionToANameWithout) {
  EXPECT_EQ(WithDefaultExtension("/r/take", "wav"), "/r/take.wav");
  EXPECT_EQ(WithDefaultExtension("/r/take.", "wav"), "/r/take.wav");
  EXPECT_EQ(WithDefaultExtension("/r/take.WAV", "wav"), "/r/take.WAV");
  EXPECT_EQ(WithDefaultExtension("/r.d/song", "mid"), "/r.d/song.mid");
}

TEST(FileDialog, ChooseFileCopiesTheAnswerOrCancels) {
  char szPath[16];
  EXPECT_EQ(ChooseFile(nullptr, kSaveWavRequest, szPath, sizeof szPath), 0); // no chooser
  PresetFileDialog preset;
  FileDialog *pPrevious = SetFileDialog(&preset);
  preset.sAnswer = "/r/take";
  EXPECT_EQ(ChooseFile(nullptr, kSaveWavRequest, szPath, sizeof szPath), 1);
  EXPECT_STREQ(szPath, "/r/take.wav");
  EXPECT_EQ(preset.pLastRequest, &kSaveWavRequest);
  preset.sAnswer = "/a/name/too/long"; // 20 bytes with ".wav" and the NUL
  EXPECT_EQ(ChooseFile(nullptr, kSaveWavRequest, szPath, sizeof szPath), 0);
  EXPECT_STREQ(szPath, "");
  SetFileDialog(pPrevious);
}

TEST(PopupMenu, GreyedItemsCannotBeChosen) {
  PresetPopupMenu menu;
  menu.Append(1000, "vokraunit");
  menu.Append(1001, "other");
  EXPECT_EQ(menu.SetGrayed(1000, 1), 1);
  EXPECT_EQ(menu.SetGrayed(1005, 1), 0);
  menu.nChoice = 1000;
  EXPECT_EQ(menu.Track(nullptr, 10, 20), 0);
  menu.nChoice = 1001;
  EXPECT_EQ(menu.Track(nullptr, 10, 20), 1001);
  menu.nChoice = 1002; // outside the menu
  EXPECT_EQ(menu.Track(nullptr, 10, 20), 0);
}

TEST(FltkMessageBox, CrLfBecomesALineBreak) {
  EXPECT_EQ(MessageBoxLines("半透明\r\nバッファ\rA\nB"), "半透明\nバッファ\nA\nB");
}

struct Dropped {
  std::vector<std::string> aPaths;
  static void Take(const char *szPath, void *pData) {
    static_cast<Dropped *>(pData)->aPaths.push_back(szPath);
  }
};

void SetEventText(const char *szText) {
  Fl::e_text = const_cast<char *>(szText);
  Fl::e_length = static_cast<int>(std::strlen(szText));
}

TEST(FltkFileDrop, ReleaseThenPasteOpensTheFirstFile) {
  Dropped dropped;
  FileDropTarget target(Dropped::Take, &dropped);
  target.Accept(1);
  EXPECT_EQ(target.Handle(FL_DND_ENTER), 1);
  EXPECT_EQ(target.Handle(FL_DND_RELEASE), 1);
  SetEventText("file:///s/one%20a.mid\r\nfile:///s/two.mid\r\n");
  EXPECT_EQ(target.Handle(FL_PASTE), 1);
  EXPECT_EQ(dropped.aPaths, std::vector<std::string>{"/s/one a.mid"});
}

TEST(FltkFileDrop, ClipboardPastesAndRefusedDropsAreNotFiles) {
  Dropped dropped;
  FileDropTarget target(Dropped::Take, &dropped);
  SetEventText("file:///s/one.mid\r\n");
  EXPECT_EQ(target.Handle(FL_DND_ENTER), 0); // refusing (a recording runs)
  EXPECT_EQ(target.Handle(FL_DND_RELEASE), 0);
  EXPECT_EQ(target.Handle(FL_PASTE), 0);
  target.Accept(1);
  EXPECT_EQ(target.Handle(FL_PASTE), 0); // no drop before it: Ctrl+V
  EXPECT_TRUE(dropped.aPaths.empty());
}

} // namespace
