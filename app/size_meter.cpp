#include "app/size_meter.h"

#include <QLocale>
#include <memory>

#include "app/file_list.h"

namespace tavrine::app {
namespace {

// Lists this long are planned on the window's own thread, at once.
constexpr std::size_t kPlannedAtOnce = 500;

// Recordable discs, by the blocks of 2048 bytes the smaller of their common kinds holds.
struct Disc {
  const char* name;
  const char* label;
  std::int64_t blocks;
};
constexpr Disc kDiscs[] = {{"CD", "700 MB", 359'847},
                           {"DVD", "4.7 GB", 2'295'104},
                           {"DVD DL", "8.5 GB", 4'171'712},
                           {"BD", "25 GB", 12'219'392}};

QString Size(std::int64_t bytes) {
  return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

}  // namespace

QString MeterText(const ListPlan& plan) {
  if (plan.placements.empty()) return QStringLiteral("No files");
  std::size_t leftOut = 0;
  for (const Placement& placed : plan.placements) {
    leftOut += placed.fate == Placement::Fate::kLeftOut ? 1 : 0;
  }
  QString text = QStringLiteral("%1 file(s)").arg(plan.files);
  if (leftOut > 0) text += QStringLiteral(" (%1 left out)").arg(leftOut);
  text += QStringLiteral(", ") + Size(plan.bytes);
  if (!plan.error.empty()) {
    return text + QStringLiteral("; no image: ") + QString::fromStdString(plan.error);
  }
  text += QStringLiteral("; image ") + Size(plan.blocks * 2048);
  for (const Disc& disc : kDiscs) {
    if (plan.blocks <= disc.blocks) {
      return text + QStringLiteral(", fits a %1 (%2)").arg(disc.name, disc.label);
    }
  }
  const Disc& largest = std::end(kDiscs)[-1];
  return text + QStringLiteral(", too large for a %1 (%2)").arg(largest.name, largest.label);
}

SizeMeter::SizeMeter(FileListModel& model, QWidget* parent) : QLabel(parent), model_(model) {
  later_.setSingleShot(true);
  later_.setInterval(150);
  connect(&later_, &QTimer::timeout, this, &SizeMeter::PlanNow);
  connect(&model_, &FileListModel::FilesChanged, this, &SizeMeter::ListChanged);
  setText(MeterText({}));
}

SizeMeter::~SizeMeter() {
  ++generation_;
  if (worker_.joinable()) worker_.join();
}

void SizeMeter::ListChanged() {
  ++generation_;  // whatever is being planned is out of date
  if (model_.Files().size() < kPlannedAtOnce) {
    later_.stop();
    Show(PlanList(model_.Files(), nullptr));
    return;
  }
  setText(QStringLiteral("Working out the size of the image..."));
  later_.start();
}

void SizeMeter::PlanNow() {
  if (worker_.joinable()) worker_.join();  // it stops at its next file, being out of date
  const int generation = generation_.load();
  worker_ = std::thread([this, files = model_.Files(), generation] {
    auto plan = std::make_shared<ListPlan>(
        PlanList(files, [this, generation] { return generation_.load() != generation; }));
    QMetaObject::invokeMethod(
        this,
        [this, plan, generation] {
          if (generation == generation_.load()) Show(std::move(*plan));
        },
        Qt::QueuedConnection);
  });
}

void SizeMeter::Show(ListPlan plan) {
  setText(MeterText(plan));
  model_.ShowPlan(std::move(plan.placements));
}

}  // namespace tavrine::app
