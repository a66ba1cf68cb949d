#pragma once

#include <QJsonObject>
#include <QString>

/// The stand-in tools' scenario for the demo (the format is in tests/support/README.md): the
/// account with its two-factor sign-in, the purchase history, versions, downloads that copy
/// `ipaPath` slowly, and the two phones with their apps and installs.
namespace DemoScenario {

inline constexpr char accountEmail[] = "anna.demo@example.com";
inline constexpr char accountName[] = "Анна Демидова";

QJsonObject build(const QString& ipaPath);

} // namespace DemoScenario
