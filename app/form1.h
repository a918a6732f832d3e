// The main window: the file list, the buttons that fill it, the image type and the six volume
// identifiers, the output folder, and the image creation job with its progress.
#pragma once

#include <QCursor>
#include <QList>
#include <QProgressBar>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/anchors.h"
#include "app/build_job.h"
#include "app/dialogs.h"
#include "app/image_plan.h"
#include "app/settings.h"
#include "image/writer.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace tavrine::app {

class Dialogs;
class FileListModel;
class FileListView;
class SizeMeter;

// A progress bar that shows its text exactly as set ("%" signs in file names included).
class StatusBar : public QProgressBar {
  Q_OBJECT

 public:
  using QProgressBar::QProgressBar;
  QString text() const override { return text_; }
  void SetText(const QString& text) {
    text_ = text;
    update();
  }

 private:
  QString text_;
};

class Form1 : public QWidget {
  Q_OBJECT

 public:
  // programFolder is where Samples/, HAND-M.CUR, drag.ico and x/o.cjs are looked for.
  Form1(Dialogs& dialogs, QString programFolder, QWidget* parent = nullptr);
  ~Form1() override;

  clsISOWriter& Writer() { return *clsISOWrt_; }
  // The list's texts, in order.
  QStringList ListedFiles() const;
  // The list with its "In image" column.
  const FileListModel& List() const;
  // True while the hourglass shows (a job adds files, or a folder import runs).
  bool Busy() const { return busyDepth_ > 0; }
  // True from a "Start Creating ISO" click to the end of its job.
  bool BuildInProgress() const { return buildInProgress_; }
  // True when some item's local path equals path exactly.
  bool ItemInList(const std::string& path) const;

 signals:
  // Every text the progress bar shows, in order.
  void StatusText(const QString& text);
  // A job has ended, after its last message.
  void JobFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct IdentifierField {
    QLineEdit* edit;
    int isoLimit;
    int jolietLimit;
    std::u16string (clsISOWriter::*get)(bool) const;
    void (clsISOWriter::*set)(bool, std::u16string_view);
  };
  // A listed file that went in under a new name, or not at all.
  struct Note {
    std::string path;
    QString what;
  };

  void BuildControls();
  void Load();
  void LoadSkin();
  std::optional<QCursor> CursorFile(const char* name) const;
  void LoadHandCursor();
  void SelectStoredIsoType();
  void FillIdentifierFields();

  void CreateIso();
  void EndAdding();
  void FinishJob(const QString& note = QString());
  void AddFiles();
  void Help();
  void AddAllInFolder();
  void ClearList();
  void LoadSamples();
  void PickOutputFolder();
  void DropFiles(const QList<QUrl>& urls);
  void RemoveItems(const std::vector<int>& rows);
  void IdentifierFocusLost(const IdentifierField& field);
  void StoreIsoType();

  void SetBusy(bool busy);
  void SetStatus(const QString& text);
  void LockJobControls(bool locked);
  void ReportNotInImage();
  void Append(std::vector<ListedFile> files);

  // Every box of the window, counted, so that the end of a build waits for the open one.
  TrackedDialogs dialogs_;
  QString programFolder_;
  Settings settings_;

  FileListView* ListView1_ = nullptr;
  SizeMeter* meter_ = nullptr;
  QComboBox* Combo1_ = nullptr;
  QLineEdit* Text1_ = nullptr;
  QLineEdit* fileName_ = nullptr;
  Anchors anchors_;
  StatusBar* ProgressBar1_ = nullptr;
  QList<QPushButton*> pushButtons_;
  std::vector<IdentifierField> identifierFields_;
  QCursor handCursor_{Qt::PointingHandCursor};

  std::unique_ptr<clsISOWriter> clsISOWrt_;
  std::unique_ptr<BuildJob> job_;  // after the writer: it is stopped before the writer goes
  bool buildInProgress_ = false;
  int busyDepth_ = 0;
  // The running build: its files and its image file; how it ended, until that is shown.
  struct Ended {
    BuildJob::Outcome outcome;
    QString error;
  };
  std::vector<ListedFile> building_;
  std::string output_;
  std::optional<Ended> ended_;
  bool adding_ = false;  // the hourglass shows while the files go into the tree
  bool closeQuestionOpen_ = false;
};

}  // namespace tavrine::app
