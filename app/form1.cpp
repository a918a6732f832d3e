#include "app/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QSvgRenderer>
#include <algorithm>
#include <utility>

#include "app/add_folder.h"
#include "app/dialogs.h"
#include "app/file_list.h"
#include "app/utilities.h"
#include "tree/errors.h"

namespace tavrine::app {
namespace {

// Positions of the controls are kept in twips, as designed: 15 twips are one logical pixel.
constexpr int kTwipsPerPixel = 15;

int Px(int twips) {
  return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

void Place(QWidget* widget, int left, int top, int width, int height) {
  widget->setGeometry(Px(left), Px(top), Px(width), Px(height));
}

QFont WindowFont(double points) {
  QFont font;
  // Liberation Sans has Arial's metrics, so captions fit the same boxes.
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
  font.setBold(true);
  font.setPointSizeF(points);
  return font;
}

// The hot spot of a .cur file: the first image's entry of its directory holds it where an icon
// keeps its planes and bit count.
QPoint CursorHotSpot(const QByteArray& file) {
  if (file.size() < 14) return {0, 0};
  auto word = [&](int at) {
    return static_cast<int>(static_cast<unsigned char>(file[at])) |
           (static_cast<int>(static_cast<unsigned char>(file[at + 1])) << 8);
  };
  return {word(10), word(12)};
}

// Why the root refused a listed file without an error: the name it would have in the image.
QString RefusalReason(const QString& path) {
  if (path.section(QLatin1Char('/'), -1).contains(QLatin1Char('\\'))) {
    return QStringLiteral("its name holds \"\\\", which names in the image cannot hold");
  }
  return QStringLiteral("a file of the same name is already in it");
}

// The application's icon, the same drawing that the desktop shows: rendered at the sizes that
// window managers ask for, so that no image plug-in is needed at run time.
QIcon AppIcon() {
  QSvgRenderer drawing(QStringLiteral(":/tavrine.svg"));
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    drawing.render(&p);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

// How many listed files a message names before it only counts the rest.
constexpr std::size_t kNamedInMessage = 30;

}  // namespace

Form1::Form1(Dialogs& dialogs, QString programFolder, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), programFolder_(std::move(programFolder)) {
  setObjectName(QStringLiteral("Form1"));
  BuildControls();
  Load();
}

Form1::~Form1() {
  if (job_) job_->CancelAndWait();
  while (busyDepth_ > 0) SetBusy(false);
}

const QStringList& Form1::ListedFiles() const {
  return ListView1_->Model().Paths();
}

bool Form1::ItemInList(const QString& path) const {
  return ListedFiles().contains(path);
}

void Form1::BuildControls() {
  setFixedSize(Px(8040), Px(10215));
  setFont(WindowFont(9));

  auto button = [this](const char* name, const char* caption, QWidget* parent, int l, int t, int w,
                       int h) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromUtf8(name));
    b->setFont(WindowFont(11.25));
    Place(b, l, t, w, h);
    pushButtons_ << b;
    return b;
  };
  auto frame = [this](const char* name, const char* caption, int l, int t, int w, int h) {
    auto* f = new QGroupBox(QString::fromUtf8(caption), this);
    f->setObjectName(QString::fromUtf8(name));
    Place(f, l, t, w, h);
    return f;
  };
  auto lineEdit = [](const char* name, QWidget* parent, int l, int t, int w, int h) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromUtf8(name));
    Place(e, l, t, w, h);
    return e;
  };

  // Created in the window's tab order.
  QPushButton* help = button("PushButton3", "Help", this, 120, 120, 7800, 405);
  connect(help, &QPushButton::clicked, this, &Form1::Help);

  ListView1_ = new FileListView(this);
  ListView1_->setObjectName(QStringLiteral("ListView1"));
  ListView1_->setToolTip(QStringLiteral(
      "Drag and drop files here. Double-click item to remove it. Move | line to right and out of "
      "window to reveal full names."));
  Place(ListView1_, 120, 630, 7800, 2535);
  connect(ListView1_, &FileListView::FilesDropped, this, &Form1::DropFiles);
  connect(ListView1_, &FileListView::RemoveRequested, this, &Form1::RemoveItem);

  connect(button("PushButton1", "Add File(s)", this, 120, 3250, 3840, 405), &QPushButton::clicked,
          this, &Form1::AddFiles);
  connect(button("PushButton4", "Add All File(s) In Folder", this, 4080, 3250, 3840, 405),
          &QPushButton::clicked, this, &Form1::AddAllInFolder);
  connect(button("PushButton6", "Clear List", this, 120, 3760, 3840, 405), &QPushButton::clicked,
          this, &Form1::ClearList);
  connect(button("PushButton7", "Load Sample/Example Files", this, 4080, 3760, 3840, 405),
          &QPushButton::clicked, this, &Form1::LoadSamples);

  QGroupBox* frame2 = frame("Frame2", "ISO Type", 120, 4230, 7800, 825);
  Combo1_ = new QComboBox(frame2);
  Combo1_->setObjectName(QStringLiteral("Combo1"));
  Place(Combo1_, 240, 300, 7335, 345);

  QGroupBox* frame1 = frame("Frame1", "ISO File Information", 120, 5100, 7785, 3075);
  struct FieldLayout {
    const char* label;
    const char* labelName;
    const char* fieldName;
    int labelWidth;
    int top;
  };
  const FieldLayout fields[] = {
      {"Volume ID:", "Label1", "Text7", 900, 300},
      {"System ID:", "Label2", "Text2", 900, 750},
      {"Application ID:", "Label3", "Text3", 1200, 1200},
      {"Publisher ID:", "Label4", "Text4", 1065, 1650},
      {"Data Preparer ID:", "Label5", "Text5", 1455, 2100},
      {"Volume Set ID:", "Label6", "Text6", 1230, 2550},
  };
  QList<QLineEdit*> edits;
  for (const FieldLayout& f : fields) {
    auto* label = new QLabel(QString::fromUtf8(f.label), frame1);
    label->setObjectName(QString::fromUtf8(f.labelName));
    // The label's box sits 45 twips below its field's top. Where the installed font draws a
    // caption wider than the designed box, the box grows towards the field, never into it.
    Place(label, 240, f.top + 45, f.labelWidth, 225);
    label->setFont(WindowFont(9));
    label->resize(std::clamp(label->sizeHint().width(), Px(f.labelWidth), Px(1830 - 240 - 30)),
                  Px(225));
    edits << lineEdit(f.fieldName, frame1, 1830, f.top, 5745, 345);
  }
  // Writer property and limits of each field (ISO 9660 / Joliet).
  identifierFields_ = {
      {edits[0], 32, 16, &clsISOWriter::VolumeID, &clsISOWriter::VolumeID},
      {edits[1], 32, 16, &clsISOWriter::SystemID, &clsISOWriter::SystemID},
      {edits[2], 128, 64, &clsISOWriter::ApplicationID, &clsISOWriter::ApplicationID},
      {edits[3], 128, 64, &clsISOWriter::PublisherID, &clsISOWriter::PublisherID},
      {edits[4], 128, 64, &clsISOWriter::DataPreparerID, &clsISOWriter::DataPreparerID},
      {edits[5], 128, 64, &clsISOWriter::VolumeSetID, &clsISOWriter::VolumeSetID},
  };
  for (const IdentifierField& f : identifierFields_) f.edit->installEventFilter(this);

  QGroupBox* frame3 = frame("Frame3", "Save Results To This Folder", 120, 8220, 7800, 810);
  Text1_ = lineEdit("Text1", frame3, 240, 300, 6495, 345);
  connect(button("PushButton9", "...", frame3, 6840, 300, 720, 345), &QPushButton::clicked, this,
          &Form1::PickOutputFolder);

  connect(button("PushButton2", "Start Creating ISO", this, 120, 9160, 7800, 405),
          &QPushButton::clicked, this, &Form1::CreateIso);

  ProgressBar1_ = new StatusBar(this);
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1_->setRange(0, 100);
  ProgressBar1_->setValue(0);
  ProgressBar1_->setTextVisible(true);
  ProgressBar1_->setAlignment(Qt::AlignCenter);
  ProgressBar1_->SetText(QStringLiteral("Progress Bar"));
  Place(ProgressBar1_, 120, 9690, 7800, 405);
}

void Form1::Load() {
  Trap trap(dialogs_, this, QString::fromLatin1(location::kLoad));
  trap.Run(1, [this] { LoadSkin(); });
  trap.Run(2, [this] { LoadHandCursor(); });
  trap.Run(3, [this] {
    setWindowTitle(QString::fromLatin1(kProductName));
    QApplication::setWindowIcon(AppIcon());
  });
  trap.Run(4, [] {
    QGuiApplication::setApplicationDisplayName(SetAppTitle(QString::fromLatin1(kProductName)));
  });
  trap.Run(5, [this] { ListView1_->header()->resizeSection(0, Px(7000)); });
  trap.Run(6, [this] {
    connect(Text1_, &QLineEdit::textChanged, this, [this](const QString& text) {
      settings_.Write(QString::fromLatin1(key::kOutputFolder), text);
    });
    Text1_->setText(settings_.Read(QString::fromLatin1(key::kOutputFolder), DesktopFolder()));
  });
  trap.Run(7, [this] { SelectStoredIsoType(); });
  trap.Run(8, [this] {
    clsISOWrt_ = std::make_unique<clsISOWriter>();
    job_ = std::make_unique<BuildJob>(*clsISOWrt_);
    connect(job_.get(), &BuildJob::BuildingFilesystem, this,
            [this] { SetStatus(QStringLiteral("Building filesystem")); });
    connect(job_.get(), &BuildJob::WritingPathTable, this,
            [this] { SetStatus(QStringLiteral("Writing path table")); });
    connect(job_.get(), &BuildJob::WritingDirectoryRecords, this,
            [this] { SetStatus(QStringLiteral("Writing directory records")); });
    connect(job_.get(), &BuildJob::WritingFiles, this, [this](int percent) {
      ProgressBar1_->setValue(std::clamp(percent, 0, 100));
      SetStatus(QStringLiteral("Writing files (") + QString::number(percent) +
                QStringLiteral("%)"));
    });
    connect(job_.get(), &BuildJob::WritingFinished, this,
            [this] { SetStatus(QStringLiteral("Ready")); });
    connect(job_.get(), &BuildJob::Finished, this, &Form1::FinishJob);
  });
  trap.Run(9, [this] { FillIdentifierFields(); });
}

void Form1::LoadSkin() {
  const QString path = programFolder_ + QStringLiteral("/x/o.cjs");
  QFile file(path);
  if (!file.exists()) return;
  QPalette plain = palette();
  plain.setColor(QPalette::Window, plain.color(QPalette::Button));
  setPalette(plain);
  if (!file.open(QIODevice::ReadOnly)) return;
  setStyleSheet(QString::fromUtf8(file.readAll()));
}

// A cursor from an icon or cursor file next to the program, when present and readable.
std::optional<QCursor> Form1::CursorFile(const char* name) const {
  QFile file(programFolder_ + QLatin1Char('/') + QLatin1String(name));
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  QPixmap pixmap;
  if (!pixmap.loadFromData(bytes)) return std::nullopt;
  // Type 2 in the header marks a cursor file, whose directory entry holds the hot spot.
  if (bytes.size() >= 4 && bytes[2] == 2) {
    const QPoint hot = CursorHotSpot(bytes);
    return QCursor(pixmap, hot.x(), hot.y());
  }
  return QCursor(pixmap);
}

void Form1::LoadHandCursor() {
  if (const std::optional<QCursor> hand = CursorFile("HAND-M.CUR")) handCursor_ = *hand;
  for (QPushButton* b : pushButtons_) b->setCursor(handCursor_);
  if (const std::optional<QCursor> drag = CursorFile("drag.ico")) ListView1_->DragCursor(*drag);
}

void Form1::SelectStoredIsoType() {
  {
    const QSignalBlocker quiet(Combo1_);
    Combo1_->addItems({QStringLiteral("ISO9660"), QStringLiteral("Joliet")});
    Combo1_->setCurrentIndex(-1);
  }
  connect(Combo1_, &QComboBox::currentIndexChanged, this, &Form1::StoreIsoType);
  const QString stored = settings_.Read(QString::fromLatin1(key::kIsoType), QStringLiteral("0"));
  bool ok = false;
  const int index = stored.trimmed().toInt(&ok);
  if (!ok || index < -1 || index > 1) {
    throw InputError("The stored \"ISO Type\" (setting Combo1) is \"" + stored.toStdString() +
                     "\"; it must be 0 (ISO9660) or 1 (Joliet)");
  }
  if (index < 0) return;
  {
    const QSignalBlocker quiet(Combo1_);
    Combo1_->setCurrentIndex(index);
  }
  StoreIsoType();
}

void Form1::StoreIsoType() {
  settings_.Write(QString::fromLatin1(key::kIsoType), QString::number(Combo1_->currentIndex()));
}

void Form1::FillIdentifierFields() {
  const int index = Combo1_->currentIndex();
  if (index != 0 && index != 1) return;
  const bool joliet = index == 1;
  // The order in which the fields are filled: Application, Data Preparer, Publisher, System,
  // Volume, Volume Set.
  for (const int i : {2, 4, 3, 1, 0, 5}) {
    const IdentifierField& f = identifierFields_[static_cast<std::size_t>(i)];
    f.edit->setMaxLength(joliet ? f.jolietLimit : f.isoLimit);
    f.edit->setText(QString::fromStdU16String((*clsISOWrt_.*f.get)(joliet)));
  }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    for (const IdentifierField& f : identifierFields_) {
      if (f.edit == watched) IdentifierFocusLost(f);
    }
  }
  return QWidget::eventFilter(watched, event);
}

void Form1::IdentifierFocusLost(const IdentifierField& field) {
  // The worker thread reads the identifiers while it writes an image.
  if (!clsISOWrt_ || (job_ && job_->Running())) return;
  const bool joliet = Combo1_->currentIndex() == 1;
  (*clsISOWrt_.*field.set)(joliet, field.edit->text().toStdU16String());
  field.edit->setText(QString::fromStdU16String((*clsISOWrt_.*field.get)(joliet)));
}

void Form1::SetBusy(bool busy) {
  if (busy) {
    ++busyDepth_;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (busyDepth_ > 0) {
    --busyDepth_;
    QApplication::restoreOverrideCursor();
  }
}

void Form1::SetStatus(const QString& text) {
  ProgressBar1_->SetText(text);
  emit StatusText(text);
}

void Form1::LockJobControls(bool locked) {
  for (const IdentifierField& f : identifierFields_) f.edit->setReadOnly(locked);
  Text1_->setReadOnly(locked);
  Combo1_->setEnabled(!locked);
  findChild<QPushButton*>(QStringLiteral("PushButton9"))->setEnabled(!locked);
}

void Form1::Append(const QStringList& paths) {
  ListView1_->Model().Append(paths);
}

// "Start Creating ISO".
void Form1::CreateIso() {
  if (buildInProgress_ || !clsISOWrt_) return;
  buildInProgress_ = true;
  Trap trap(dialogs_, this, QString::fromLatin1(location::kCreateIso));
  if (ListedFiles().isEmpty()) {
    dialogs_.Message(this, QStringLiteral("No files added."));
    buildInProgress_ = false;
    return;
  }
  const QString folder = Text1_->text();
  if (!IsFolder(folder)) {
    dialogs_.Message(this, QStringLiteral("Folder does not exist. Please select another folder."));
    buildInProgress_ = false;
    return;
  }
  LockJobControls(true);
  QCoreApplication::processEvents();

  trap.Run(5, [this] { clsISOWrt_->VolumeCreation(DateTime::LocalNow()); });
  std::shared_ptr<clsISODirectory> root;
  trap.Run(6, [this, &root] {
    root = clsISOWrt_->DirByPath(u"\\");
    // Every job starts from an empty image, so that files taken off the list stay out of it.
    root->Clear();
  });
  notAdded_.clear();

  const qsizetype n = ListedFiles().size();
  SetBusy(true);
  for (qsizetype i = 1; i <= n && !abandonJob_; ++i) {
    const qsizetype m = ListedFiles().size();
    if (i > m) break;
    ProgressBar1_->setValue(qRound(static_cast<double>(i) / static_cast<double>(m) * 100.0));
    const QString path = ListedFiles()[i - 1];
    SetStatus(QStringLiteral("Processing: ") + path.section(QLatin1Char('/'), -1));
    QCoreApplication::processEvents();
    if (abandonJob_ || !root) break;
    trap.Run(7, [&] {
      try {
        if (root->Files().Add(NativePath(path)) == nullptr) {
          notAdded_.push_back({path, RefusalReason(path)});
        }
      } catch (const std::exception& e) {
        notAdded_.push_back({path, QString::fromUtf8(e.what())});
        throw;  // and the error dialog, as for any failing step
      }
    });
  }
  SetBusy(false);
  if (abandonJob_) {
    buildInProgress_ = false;
    return;
  }

  const QString output = folder +
                         (folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) +
                         QStringLiteral("result.iso");
  ProgressBar1_->setValue(0);
  SetStatus(QStringLiteral("Progress Bar"));
  if (!trap.Run(10, [&] { job_->Start(NativePath(output)); })) {
    FinishJob(BuildJob::Outcome::kNotCreated, QString());
  }
}

void Form1::FinishJob(BuildJob::Outcome outcome, const QString& error) {
  if (outcome == BuildJob::Outcome::kFailed) {
    Trap(dialogs_, this, QString::fromLatin1(location::kCreateIso)).Report(error, 10);
  }
  if (outcome != BuildJob::Outcome::kCancelled) {
    const bool created = outcome == BuildJob::Outcome::kCreated;
    dialogs_.Message(this, created ? QStringLiteral("Done.") : QStringLiteral("Fail to create."));
    if (created) ReportNotInImage();
  }
  LockJobControls(false);
  buildInProgress_ = false;
  emit JobFinished();
}

// After "Done.": the listed files that did not go into the image whole, and why.
void Form1::ReportNotInImage() {
  std::vector<NotInImage> missing = notAdded_;
  for (const UnreadableFile& f : clsISOWrt_->UnreadableFiles()) {
    missing.push_back({FromNativePath(f.LocalPath),
                       QStringLiteral("could not be read: ") + QString::fromUtf8(f.Reason)});
  }
  if (missing.empty()) return;
  QString text = QStringLiteral("Some listed files are not in the image, or not whole:");
  const std::size_t named = std::min(missing.size(), kNamedInMessage);
  for (std::size_t i = 0; i < named; ++i) {
    text += QStringLiteral("\r\n") + missing[i].path + QStringLiteral(" - ") + missing[i].reason;
  }
  if (missing.size() > named) {
    text += QStringLiteral("\r\n... and %1 more.").arg(missing.size() - named);
  }
  dialogs_.Message(this, text);
}

// "Add File(s)".
void Form1::AddFiles() {
  Trap trap(dialogs_, this, QString::fromLatin1(location::kAddFiles));
  QStringList paths;
  trap.Run(1, [&] {
    paths =
        dialogs_.OpenFiles(this, QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"),
                           QStringLiteral("All Files (*)"));
  });
  if (paths.isEmpty()) return;
  trap.Run(3, [&] {
    // One file goes in as the dialog named it; several are cleaned, as paths composed from a
    // folder and a name are.
    if (paths.size() > 1) {
      for (QString& path : paths) path = CleanPath(path);
    }
    Append(paths);
  });
}

void Form1::Help() {
  Trap(dialogs_, this, QString::fromLatin1(location::kHelp)).Run(1, [this] {
    dialogs_.Message(this, QStringLiteral("Cannot hold very large file size."));
  });
}

// "Add All File(s) In Folder".
void Form1::AddAllInFolder() {
  Trap trap(dialogs_, this, QString::fromLatin1(location::kAddFolder));
  QString extension;
  trap.Run(1, [&] {
    extension = dialogs_.Input(
        this,
        QStringLiteral("Enter file extension to load:\r\n\r\n(* for all files, txt for all txt "
                       "files, doc for all doc files, etc.)"),
        settings_.Read(QString::fromLatin1(key::kExtension), QStringLiteral("*")));
  });
  if (extension.isEmpty()) return;
  trap.Run(2, [&] { settings_.Write(QString::fromLatin1(key::kExtension), extension); });
  QString folder;
  // The store alone keeps the last folder: written when chosen, read again at each import.
  trap.Run(3, [&] {
    folder = BrowseForFolder(dialogs_, this, QStringLiteral("Please select folder:"),
                             settings_.Read(QString::fromLatin1(key::kLastFolder), QString()));
  });
  if (folder.isEmpty()) return;
  trap.Run(4, [&] { settings_.Write(QString::fromLatin1(key::kLastFolder), folder); });
  SetBusy(true);
  trap.Run(6, [&] {
    Trap scan(dialogs_, this, QString::fromLatin1(location::kFolderScan));
    const WalkHooks hooks{[] { QCoreApplication::processEvents(); },
                          [&scan](const QString& description) { scan.Report(description, 2); }};
    ImportFolderTree(folder, QStringLiteral("*.") + extension, hooks,
                     [this](const QStringList& paths) { Append(paths); });
  });
  SetBusy(false);
}

// Dropped files are listed as they are; dropped folders bring every file of their trees.
void Form1::DropFiles(const QList<QUrl>& urls) {
  Trap scan(dialogs_, this, QString::fromLatin1(location::kFolderScan));
  const WalkHooks hooks{[] { QCoreApplication::processEvents(); },
                        [&scan](const QString& description) { scan.Report(description, 2); }};
  QStringList files;
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (!IsFolder(path)) {
      files << path;
      continue;
    }
    Append(std::exchange(files, {}));
    ImportFolderTree(path, QStringLiteral("*.*"), hooks,
                     [this](const QStringList& paths) { Append(paths); });
  }
  Append(files);
}

// Delete key and double-click.
void Form1::RemoveItem(int row) {
  if (Busy() || buildInProgress_ || ListedFiles().isEmpty()) return;
  ListView1_->Model().RemoveAt(row);
}

void Form1::ClearList() {
  Trap(dialogs_, this, QString::fromLatin1(location::kClearList)).Run(1, [this] {
    if (!Busy() && !buildInProgress_) ListView1_->Model().Clear();
  });
}

// "Load Sample/Example Files".
void Form1::LoadSamples() {
  Trap trap(dialogs_, this, QString::fromLatin1(location::kLoadSamples));
  const QString folder = programFolder_ + QStringLiteral("/Samples/");
  trap.Run(1, [&] {
    QStringList paths;
    for (const QString& name : ListFiles(folder, QStringLiteral("*.*"))) {
      if (!ItemInList(folder + name)) paths << folder + name;
    }
    Append(paths);
  });
  bool open = false;
  trap.Run(3, [&] {
    open = dialogs_.Question(
        this, QStringLiteral("Would you like this software to open the folder where these sample "
                             "files are stored (so that you can view them before working with "
                             "them)?"));
  });
  if (!open) return;
  trap.Run(4, [&] { dialogs_.OpenUrl(QUrl::fromLocalFile(folder)); });
}

// "...": the output folder.
void Form1::PickOutputFolder() {
  Trap trap(dialogs_, this, QString::fromLatin1(location::kPickOutput));
  QString folder;
  trap.Run(1, [&] {
    folder = BrowseForFolder(dialogs_, this, QStringLiteral("Please select folder:"),
                             settings_.Read(QString::fromLatin1(key::kLastFolderDot), QString()));
  });
  if (folder.isEmpty()) return;
  trap.Run(2, [&] {
    settings_.Write(QString::fromLatin1(key::kLastFolderDot), folder);
    Text1_->setText(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
  });
}

void Form1::closeEvent(QCloseEvent* event) {
  Trap trap(dialogs_, this, QString::fromLatin1(location::kClose));
  if (buildInProgress_) {
    bool stop = false;
    trap.Run(1, [&] {
      stop = dialogs_.Question(this, QStringLiteral("An image is being created. Stop it and "
                                                    "close the window? The unfinished image "
                                                    "will be removed."));
    });
    if (!stop) {
      event->ignore();
      return;
    }
    abandonJob_ = true;
    trap.Run(2, [this] {
      if (job_) job_->CancelAndWait();
    });
  }
  event->accept();
}

}  // namespace tavrine::app
