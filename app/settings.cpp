#include "app/settings.h"

#include <QSettings>

namespace tavrine::app {
namespace {

QString Address(const QString& key) {
  return QStringLiteral("Tavrine/") + key;
}

QSettings Store() {
  return QSettings(QStringLiteral("Quarnelix"), QStringLiteral("Quarnelix"));
}

}  // namespace

QString Settings::Read(const QString& key, const QString& defaultValue) const {
  return Store().value(Address(key), defaultValue).toString();
}

void Settings::Write(const QString& key, const QString& value) {
  QSettings store = Store();
  store.setValue(Address(key), value);
  store.sync();
}

}  // namespace tavrine::app
