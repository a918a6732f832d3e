// The line under the file list: how many files go in, their size, the size of the image they
// make and the disc it fits. It plans the list as an image of its own whenever the list changes
// (a long list on a thread of its own, so that the window stays responsive) and hands the plan
// to the list for its "In image" column.
#pragma once

#include <QLabel>
#include <QTimer>
#include <atomic>
#include <thread>

#include "app/image_plan.h"

namespace tavrine::app {

class FileListModel;

// The meter's text for a plan.
QString MeterText(const ListPlan& plan);

class SizeMeter : public QLabel {
  Q_OBJECT

 public:
  SizeMeter(FileListModel& model, QWidget* parent);
  ~SizeMeter() override;

 private:
  void ListChanged();
  void PlanNow();
  void Show(ListPlan plan);

  FileListModel& model_;
  QTimer later_;  // gathers the many changes of a long folder import into one plan
  std::thread worker_;
  std::atomic<int> generation_{0};  // a plan for an older list stops and is dropped
};

}  // namespace tavrine::app
