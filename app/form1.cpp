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
#include "app/size_meter.h"
#include "app/utilities.h"
#include "fileio/paths.h"
#include "image/output_failure.h"
#include "tree/errors.h"
#include "tree/text.h"

namespace tavrine::app {
namespace {

constexpr char kDefaultFileName[] = "result.iso";

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

// The local bytes of a file URL's path; a name that is not UTF-8 stays percent-encoded in it.
std::string LocalPathOf(const QUrl& url) {
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
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

}  // namespace

Form1::Form1(Dialogs& dialogs, QString programFolder, QWidget* parent)
    : QWidget(parent),
      dialogs_(dialogs,
               [this] {
                 QMetaObject::invokeMethod(
                     this, [this] { FinishJob(); }, Qt::QueuedConnection);
               }),
      programFolder_(std::move(programFolder)) {
  setObjectName(QStringLiteral("Form1"));
  BuildControls();
  Load();
}

Form1::~Form1() {
  if (job_) job_->StopAndWait();
  while (busyDepth_ > 0) SetBusy(false);
}

QStringList Form1::ListedFiles() const {
  return ListView1_->Model().Paths();
}

const FileListModel& Form1::List() const {
  return ListView1_->Model();
}

bool Form1::ItemInList(const std::string& path) const {
  const std::vector<ListedFile>& files = List().Files();
  return std::any_of(files.begin(), files.end(),
                     [&](const ListedFile& file) { return file.path == path; });
}

void Form1::BuildControls() {
  // The designed size is the smallest; a larger window gives the list the room.
  resize(Px(8040), Px(10215));
  setMinimumSize(size());
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
  QPushButton* help = button("PushButton3", "&Help", this, 120, 120, 7800, 405);
  connect(help, &QPushButton::clicked, this, &Form1::Help);

  ListView1_ = new FileListView(this);
  ListView1_->setObjectName(QStringLiteral("ListView1"));
  ListView1_->setToolTip(QStringLiteral(
      "Drag and drop files here. Double-click item to remove it. Move | line to right and out of "
      "window to reveal full names."));
  // The list gives one line of its designed height to the size meter below it.
  Place(ListView1_, 120, 630, 7800, 2235);
  connect(ListView1_, &FileListView::FilesDropped, this, &Form1::DropFiles);
  connect(ListView1_, &FileListView::RemoveRequested, this, &Form1::RemoveItems);
  meter_ = new SizeMeter(ListView1_->Model(), this);
  meter_->setObjectName(QStringLiteral("SizeMeter"));
  Place(meter_, 120, 2880, 7800, 270);

  connect(button("PushButton1", "&Add File(s)", this, 120, 3250, 3840, 405), &QPushButton::clicked,
          this, &Form1::AddFiles);
  connect(button("PushButton4", "Add All File(s) In F&older", this, 4080, 3250, 3840, 405),
          &QPushButton::clicked, this, &Form1::AddAllInFolder);
  connect(button("PushButton6", "&Clear List", this, 120, 3760, 3840, 405), &QPushButton::clicked,
          this, &Form1::ClearList);
  connect(button("PushButton7", "Load &Sample/Example Files", this, 4080, 3760, 3840, 405),
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
  // The folder, its "...", and the image file's name.
  Text1_ = lineEdit("Text1", frame3, 240, 300, 4560, 345);
  connect(button("PushButton9", "...", frame3, 4860, 300, 720, 345), &QPushButton::clicked, this,
          &Form1::PickOutputFolder);
  fileName_ = lineEdit("FileName", frame3, 5700, 300, 1860, 345);
  fileName_->setToolTip(QStringLiteral("The name of the image file"));
  fileName_->setPlaceholderText(QString::fromLatin1(kDefaultFileName));

  connect(button("PushButton2", "Start C&reating ISO", this, 120, 9160, 5760, 405),
          &QPushButton::clicked, this, &Form1::CreateIso);
  QPushButton* stop = button("StopButton", "S&top", this, 5940, 9160, 1980, 405);
  stop->setEnabled(false);
  connect(stop, &QPushButton::clicked, this, [this] { job_->Stop(); });

  ProgressBar1_ = new StatusBar(this);
  ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1_->setRange(0, 100);
  ProgressBar1_->setValue(0);
  ProgressBar1_->setTextVisible(true);
  ProgressBar1_->setAlignment(Qt::AlignCenter);
  ProgressBar1_->SetText(QStringLiteral("Progress Bar"));
  Place(ProgressBar1_, 120, 9690, 7800, 405);

  // Beyond the designed size the list takes the extra height, everything below it moves down,
  // and the controls of each row share the extra width.
  constexpr Anchors::Share kRow{0, 1, 1, 0}, kLeft{0, 1, 0.5, 0}, kRight{0.5, 1, 0.5, 0},
      kWider{0, 0, 1, 0}, kEnd{1, 0, 0, 0};
  const std::pair<const char*, Anchors::Share> shares[] = {
      {"PushButton3", kWider}, {"ListView1", {0, 0, 1, 1}},
      {"SizeMeter", kRow},     {"PushButton1", kLeft},
      {"PushButton4", kRight}, {"PushButton6", kLeft},
      {"PushButton7", kRight}, {"Frame2", kRow},
      {"Combo1", kWider},      {"Frame1", kRow},
      {"Text7", kWider},       {"Text2", kWider},
      {"Text3", kWider},       {"Text4", kWider},
      {"Text5", kWider},       {"Text6", kWider},
      {"Frame3", kRow},        {"Text1", kWider},
      {"PushButton9", kEnd},   {"FileName", kEnd},
      {"PushButton2", kRow},   {"StopButton", {1, 1, 0, 0}},
      {"ProgressBar1", kRow}};
  for (const auto& [name, share] : shares) {
    anchors_.Add(findChild<QWidget*>(QString::fromLatin1(name)), share);
  }
}

void Form1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  anchors_.Apply(size() - minimumSize());
}

void Form1::Load() {
  Trap trap(dialogs_, this, QString::fromLatin1(location::kLoad));
  trap.Run(1, [this] { LoadSkin(); });
  trap.Run(2, [this] { LoadHandCursor(); });
  trap.Run(3, [this] {
    setWindowTitle(QString::fromLatin1(kProductName));
    QApplication::setWindowIcon(AppIcon());
  });
  trap.Run(4, [] { SetApplicationTitle(SetAppTitle(QString::fromLatin1(kProductName))); });
  // "File(s)" leaves room for "In image" beside it.
  trap.Run(5, [this] { ListView1_->header()->resizeSection(0, Px(4500)); });
  trap.Run(6, [this] {
    connect(Text1_, &QLineEdit::textChanged, this, [this](const QString& text) {
      settings_.Write(QString::fromLatin1(key::kOutputFolder), text);
    });
    Text1_->setText(StoredOutputFolder(
        settings_.Read(QString::fromLatin1(key::kOutputFolder), DesktopFolder())));
  });
  trap.Run(6, [this] {
    connect(fileName_, &QLineEdit::textChanged, this, [this](const QString& text) {
      settings_.Write(QString::fromLatin1(key::kFileName), text);
    });
    fileName_->setText(
        settings_.Read(QString::fromLatin1(key::kFileName), QString::fromLatin1(kDefaultFileName)));
    restoreGeometry(QByteArray::fromBase64(
        settings_.Read(QString::fromLatin1(key::kGeometry), QString()).toLatin1()));
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
    // The bar follows the bytes written, which move inside large files too; the percentage of
    // "Writing files" comes before each file and never reaches the end.
    connect(job_.get(), &BuildJob::WritingFiles, this, [this](int percent) {
      SetStatus(QStringLiteral("Writing files (") + QString::number(percent) +
                QStringLiteral("%)"));
    });
    connect(job_.get(), &BuildJob::Written, ProgressBar1_, &QProgressBar::setValue);
    connect(job_.get(), &BuildJob::WritingFinished, this, [this] {
      ProgressBar1_->setValue(100);
      SetStatus(QStringLiteral("Ready"));
    });
    connect(job_.get(), &BuildJob::Adding, this,
            [this](int number, int count, const QString& name) {
              ProgressBar1_->setValue(qRound(static_cast<double>(number) / count * 100.0));
              SetStatus(QStringLiteral("Processing: ") + name);
            });
    connect(job_.get(), &BuildJob::FilesAdded, this, [this] {
      EndAdding();
      ProgressBar1_->setValue(0);
      SetStatus(QStringLiteral("Progress Bar"));
    });
    connect(job_.get(), &BuildJob::Finished, this,
            [this](BuildJob::Outcome outcome, const QString& error) {
              EndAdding();
              ended_ = Ended{outcome, error};
              FinishJob();
            });
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
  // The fields show and edit the chosen volume's identifiers at once: fields left showing the
  // other volume's values would write them into the chosen one when they lose the focus.
  connect(Combo1_, &QComboBox::currentIndexChanged, this, [this] {
    StoreIsoType();
    FillIdentifierFields();
  });
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
  if (!clsISOWrt_ || (index != 0 && index != 1)) return;
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
  fileName_->setReadOnly(locked);
  findChild<QPushButton*>(QStringLiteral("PushButton9"))->setEnabled(!locked);
  findChild<QPushButton*>(QStringLiteral("StopButton"))->setEnabled(locked);
}

void Form1::Append(std::vector<ListedFile> files) {
  ListView1_->Model().Append(std::move(files));
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
  if (!IsFolder(NativePath(folder))) {
    dialogs_.Message(this, QStringLiteral("Folder does not exist. Please select another folder."));
    buildInProgress_ = false;
    return;
  }
  const QString name = fileName_->text().trimmed().isEmpty() ? QString::fromLatin1(kDefaultFileName)
                                                             : fileName_->text().trimmed();
  if (name.contains(QLatin1Char('/')) || name == QStringLiteral(".") ||
      name == QStringLiteral("..")) {
    dialogs_.Message(this,
                     QStringLiteral("The image file name \"") + name +
                         QStringLiteral("\" cannot be used. Please give a name without \"/\"."));
    buildInProgress_ = false;
    return;
  }
  LockJobControls(true);
  trap.Run(5, [this] { clsISOWrt_->VolumeCreation(DateTime::LocalNow()); });
  building_ = List().Files();
  output_ = NativePath(
      folder + (folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + name);
  // The files go into the image on the build's own thread, so that no box the window shows
  // meanwhile holds the build up.
  SetBusy(true);
  adding_ = true;
  if (!trap.Run(7, [this] { job_->Start(building_, output_); })) {
    EndAdding();
    ended_ = Ended{BuildJob::Outcome::kFailed, QStringLiteral("The build could not start.")};
    FinishJob();
  }
}

void Form1::EndAdding() {
  if (std::exchange(adding_, false)) SetBusy(false);
}

// The end of a build, once no box is open: "Done." never opens over another box, and a close
// question still open is closed, since there is nothing left to stop.
void Form1::FinishJob(const QString& note) {
  if (!ended_) return;
  if (dialogs_.AnyOpen()) {
    if (closeQuestionOpen_) dialogs_.Dismiss();
    return;
  }
  const auto [outcome, error] = *std::exchange(ended_, std::nullopt);
  if (outcome != BuildJob::Outcome::kCreated) {
    // The bar tells how the build ended, not the last phase it reached.
    ProgressBar1_->setValue(0);
    SetStatus(outcome == BuildJob::Outcome::kCancelled    ? QStringLiteral("Stopped")
              : outcome == BuildJob::Outcome::kNotCreated ? QStringLiteral("Not created")
                                                          : QStringLiteral("Failed"));
  }
  if (outcome == BuildJob::Outcome::kInternal) {
    Trap(dialogs_, this, QString::fromLatin1(location::kCreateIso)).Report(error, 10);
  }
  if (outcome == BuildJob::Outcome::kCreated) {
    dialogs_.Message(this, QStringLiteral("Done.") + note);
    ReportNotInImage();
  } else if (outcome != BuildJob::Outcome::kCancelled) {
    // Which file, and why: the writer's message, or the folder's answer to a new file.
    const QString why = outcome == BuildJob::Outcome::kNotCreated
                            ? QStringLiteral("The image ") + FromNativePath(output_) +
                                  QStringLiteral(" cannot be created: ") +
                                  QString::fromLocal8Bit(WhyOutputNotCreated(output_))
                            : error;
    dialogs_.Message(this, QStringLiteral("Fail to create.\r\n\r\n") + why);
  }
  LockJobControls(false);
  buildInProgress_ = false;
  emit JobFinished();
}

// After "Done.": the listed files that went in under new names, or not whole, or not at all.
void Form1::ReportNotInImage() {
  std::vector<Note> renamed, missing;
  const std::vector<Placement>& placements = job_->Placements();
  for (std::size_t i = 0; i < placements.size() && i < building_.size(); ++i) {
    const Placement& placed = placements[i];
    if (placed.fate == Placement::Fate::kRenamed) {
      renamed.push_back({building_[i].path, QStringLiteral("in the image as ") +
                                                QString::fromStdU16String(placed.imagePath) +
                                                QStringLiteral(": ") +
                                                QString::fromStdString(placed.reason)});
    } else if (placed.fate == Placement::Fate::kLeftOut) {
      missing.push_back({building_[i].path, QString::fromStdString(placed.reason)});
    }
  }
  // Joliet names that Windows could not use, or too long for their records (a folder is
  // named by its path in the image).
  for (const JolietRename& r : clsISOWrt_->JolietRenames()) {
    const std::string where = r.LocalPath.empty() ? text::ToUtf8(r.ImagePath) : r.LocalPath;
    renamed.push_back({where, QStringLiteral("named ") + QString::fromStdU16String(r.JolietName) +
                                  QStringLiteral(" on Windows: ") +
                                  QString::fromStdString(r.Reason)});
  }
  for (const UnreadableFile& f : clsISOWrt_->UnreadableFiles()) {
    missing.push_back(
        {f.LocalPath, QStringLiteral("could not be read: ") + QString::fromUtf8(f.Reason)});
  }
  if (missing.empty() && renamed.empty()) return;
  QStringList text, details;
  if (!renamed.empty()) {
    text << QStringLiteral("%1 listed file(s) went in under another name.").arg(renamed.size());
  }
  if (!missing.empty()) {
    text << QStringLiteral("%1 listed file(s) are not in the image, or not whole.")
                .arg(missing.size());
  }
  for (const std::vector<Note>* notes : {&missing, &renamed}) {
    for (const Note& note : *notes) {
      details << FromNativePath(note.path) + QStringLiteral(" - ") + note.what;
    }
  }
  dialogs_.Details(this, text.join(QLatin1Char(' ')), details.join(QLatin1Char('\n')));
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
    // folder and a name are. Files added on their own go to the image's root.
    std::vector<ListedFile> files;
    for (const QString& path : paths) {
      const std::string local = LocalPathFromDialog(path);
      files.push_back({paths.size() > 1 ? CleanPath(local) : local, {}});
    }
    Append(std::move(files));
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
    // The folder's files and sub-folders go to the image's root, each sub-folder as a folder.
    ImportFolderTree(NativePath(folder), QStringLiteral("*.") + extension, {}, hooks,
                     [this](std::vector<ListedFile> files) { Append(std::move(files)); });
  });
  SetBusy(false);
}

// Dropped files are listed as they are; dropped folders bring every file of their trees.
void Form1::DropFiles(const QList<QUrl>& urls) {
  Trap scan(dialogs_, this, QString::fromLatin1(location::kFolderScan));
  const WalkHooks hooks{[] { QCoreApplication::processEvents(); },
                        [&scan](const QString& description) { scan.Report(description, 2); }};
  std::vector<ListedFile> files;
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    const std::string path = LocalPathOf(url);
    if (!IsFolder(path)) {
      files.push_back({path, {}});
      continue;
    }
    Append(std::exchange(files, {}));
    // A dropped folder goes into the image as a folder of its own name.
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    ImportFolderTree(path, QStringLiteral("*.*"), std::string(NameOfPath(folder)), hooks,
                     [this](std::vector<ListedFile> found) { Append(std::move(found)); });
  }
  Append(std::move(files));
}

// Delete key and double-click.
void Form1::RemoveItems(const std::vector<int>& rows) {
  if (Busy() || buildInProgress_) return;
  ListView1_->Model().Remove(rows);
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
    const std::string local = NativePath(folder);
    std::vector<ListedFile> files;
    for (const std::string& name : ListFiles(local, QStringLiteral("*.*"))) {
      if (!ItemInList(local + name)) files.push_back({local + name, {}});
    }
    Append(std::move(files));
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
    closeQuestionOpen_ = true;
    trap.Run(1, [&] {
      stop = dialogs_.Question(this, QStringLiteral("An image is being created. Stop it and "
                                                    "close the window? The unfinished image "
                                                    "will be removed."));
    });
    closeQuestionOpen_ = false;
    if (ended_) {
      // The build ended while the question was open: there is nothing left to stop.
      event->ignore();
      FinishJob(
          QStringLiteral("\r\n\r\nThe image was finished before the question was "
                         "answered, so it was kept."));
      return;
    }
    if (!stop) {
      event->ignore();
      return;
    }
    // The answer counts for what is on disk when it is given: a finished image stays.
    BuildJob::Outcome outcome = BuildJob::Outcome::kCancelled;
    trap.Run(2, [&] { outcome = job_->StopAndWait(); });
    if (outcome == BuildJob::Outcome::kCreated) {
      dialogs_.Message(this, QStringLiteral("The image was finished before it could be "
                                            "stopped, so it was kept:\r\n") +
                                 FromNativePath(output_));
    }
  }
  settings_.Write(QString::fromLatin1(key::kGeometry),
                  QString::fromLatin1(saveGeometry().toBase64()));
  event->accept();
}

}  // namespace tavrine::app
