#include "simulator/SettingsStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace trutina {

namespace {

constexpr int FormatVersion = 1;

// Raised inside FromJson for a field of the wrong kind; never leaves this file.
struct EBadField : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::int32_t IntField(const QJsonObject& o, const char* key, std::int32_t fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return fallback;
    const double d = v.toDouble(std::numeric_limits<double>::quiet_NaN());
    if (!v.isDouble() || d != std::floor(d) || d < std::numeric_limits<std::int32_t>::min() ||
        d > std::numeric_limits<std::int32_t>::max())
        throw EBadField(std::string(key) + " is not a whole number");
    return static_cast<std::int32_t>(d);
}

double RealField(const QJsonObject& o, const char* key, double fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return fallback;
    if (!v.isDouble())
        throw EBadField(std::string(key) + " is not a number");
    return v.toDouble();
}

bool BoolField(const QJsonObject& o, const char* key, bool fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return fallback;
    if (!v.isBool())
        throw EBadField(std::string(key) + " is not true or false");
    return v.toBool();
}

QString TextField(const QJsonObject& o, const char* key, const QString& fallback)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return fallback;
    if (!v.isString())
        throw EBadField(std::string(key) + " is not a text");
    return v.toString();
}

QJsonObject ObjectField(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return {};
    if (!v.isObject())
        throw EBadField(std::string(key) + " is not an object");
    return v.toObject();
}

QJsonArray ArrayField(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return {};
    if (!v.isArray())
        throw EBadField(std::string(key) + " is not a list");
    return v.toArray();
}

QJsonObject ElementObject(const QJsonValue& v, const char* what)
{
    if (!v.isObject())
        throw EBadField(std::string(what) + " is not an object");
    return v.toObject();
}

QJsonObject ParametersToJson(const TDeviceParameters& p)
{
    return {{"protocolType", p.ProtocolType},
            {"baudRate", p.BaudRate},
            {"sleepMode", p.SleepMode},
            {"tareMode", p.TareMode},
            {"password", p.Password}};
}

TDeviceParameters ParametersFromJson(const QJsonObject& o)
{
    TDeviceParameters p;
    p.ProtocolType = IntField(o, "protocolType", p.ProtocolType);
    p.BaudRate = IntField(o, "baudRate", p.BaudRate);
    p.SleepMode = IntField(o, "sleepMode", p.SleepMode);
    p.TareMode = IntField(o, "tareMode", p.TareMode);
    p.Password = IntField(o, "password", p.Password);
    return p;
}

} // namespace

TSettingsStore::TSettingsStore(QString path) : FPath(std::move(path)) {}

QString TSettingsStore::DefaultPath()
{
    const QByteArray overridden = qgetenv("TRUTINA_SETTINGS");
    if (!overridden.isEmpty())
        return QString::fromLocal8Bit(overridden);
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/ponderix/trutina.json");
}

QByteArray TSettingsStore::ToJson(const TDriverSettings& s)
{
    QJsonArray devices;
    for (const auto& d : s.Devices) {
        devices.append(QJsonObject{{"number", d.Number},
                                   {"name", QString::fromStdU16String(d.Name)},
                                   {"port", d.PortNumber},
                                   {"baudRate", d.BaudRate},
                                   {"parity", d.Parity},
                                   {"model", d.Model},
                                   {"enabled", d.Enabled},
                                   {"parameters", ParametersToJson(d.Parameters)},
                                   {"loadProfile", QString::fromStdString(d.LoadProfile)}});
    }
    QJsonObject profiles;
    for (const auto& [name, profile] : s.LoadProfiles) {
        QJsonArray steps;
        for (const auto& step : profile.Steps) {
            QJsonObject o{{"at", static_cast<double>(step.At)}, {"load", step.Load}};
            if (step.Unstable)
                o.insert("unstable", true);
            if (step.Disconnected)
                o.insert("disconnected", true);
            steps.append(o);
        }
        profiles.insert(QString::fromStdString(name),
                        QJsonObject{{"loopMs", static_cast<double>(profile.LoopMs)}, {"steps", steps}});
    }
    QJsonObject root{{"format", FormatVersion},
                     {"currentDevice", s.CurrentDeviceNumber},
                     {"lockDevices", s.LockDevices},
                     {"pollingInterval", s.PollingInterval},
                     {"weightStep", s.WeightStep},
                     {"updatePrice", s.UpdatePrice},
                     {"autoDisable", s.AutoDisable},
                     {"timeout", s.Timeout},
                     {"devices", devices},
                     {"loadProfiles", profiles}};
    if (!s.DamagedCopy.empty())
        root.insert("damagedCopy", QString::fromStdString(s.DamagedCopy));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<TDriverSettings> TSettingsStore::FromJson(const QByteArray& json, QString* problem)
{
    auto fail = [&](const QString& why) -> std::optional<TDriverSettings> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return fail(error.errorString());
    if (!doc.isObject())
        return fail(QStringLiteral("not a JSON object"));
    try {
        const QJsonObject root = doc.object();
        if (IntField(root, "format", FormatVersion) != FormatVersion)
            return fail(QStringLiteral("unknown format"));
        TDriverSettings s;
        s.CurrentDeviceNumber = IntField(root, "currentDevice", 1);
        s.LockDevices = BoolField(root, "lockDevices", s.LockDevices);
        s.PollingInterval = IntField(root, "pollingInterval", s.PollingInterval);
        s.WeightStep = RealField(root, "weightStep", s.WeightStep);
        s.UpdatePrice = BoolField(root, "updatePrice", s.UpdatePrice);
        s.AutoDisable = BoolField(root, "autoDisable", s.AutoDisable);
        s.Timeout = IntField(root, "timeout", s.Timeout);
        s.DamagedCopy = TextField(root, "damagedCopy", {}).toStdString();
        for (const QJsonValue& v : ArrayField(root, "devices")) {
            const QJsonObject o = ElementObject(v, "device");
            TDeviceSettings d;
            d.Number = IntField(o, "number", 0);
            d.Name = TextField(o, "name", QString::fromStdU16String(DefaultDeviceName(d.Number))).toStdU16String();
            d.PortNumber = IntField(o, "port", d.PortNumber);
            d.BaudRate = IntField(o, "baudRate", d.BaudRate);
            d.Parity = IntField(o, "parity", d.Parity);
            d.Model = IntField(o, "model", d.Model);
            d.Enabled = BoolField(o, "enabled", d.Enabled);
            d.Parameters = ParametersFromJson(ObjectField(o, "parameters"));
            d.LoadProfile = TextField(o, "loadProfile", {}).toStdString();
            s.Devices.push_back(std::move(d));
        }
        const QJsonObject profiles = ObjectField(root, "loadProfiles");
        for (auto it = profiles.begin(); it != profiles.end(); ++it) {
            const QJsonObject o = ElementObject(it.value(), "load profile");
            TLoadProfile profile;
            profile.LoopMs = static_cast<TMillis>(RealField(o, "loopMs", 0));
            for (const QJsonValue& v : ArrayField(o, "steps")) {
                const QJsonObject so = ElementObject(v, "load step");
                TLoadStep step;
                step.At = static_cast<TMillis>(RealField(so, "at", 0));
                step.Load = RealField(so, "load", 0);
                step.Unstable = BoolField(so, "unstable", false);
                step.Disconnected = BoolField(so, "disconnected", false);
                profile.Steps.push_back(step);
            }
            s.LoadProfiles[it.key().toStdString()] = std::move(profile);
        }
        const std::string wrong = s.Problem();
        if (!wrong.empty())
            return fail(QString::fromStdString(wrong));
        return s;
    } catch (const EBadField& e) {
        return fail(QString::fromUtf8(e.what()));
    }
}

TDriverSettings TSettingsStore::Load()
{
    QFile file(FPath);
    if (!file.exists())
        return TDriverSettings::Defaults();
    std::optional<TDriverSettings> loaded;
    if (file.open(QIODevice::ReadOnly))
        loaded = FromJson(file.readAll());
    file.close();
    if (loaded)
        return *loaded;
    TDriverSettings defaults = TDriverSettings::Defaults();
    const QString aside = PutAside();
    if (aside.isEmpty()) {
        // No copy could be made: the damaged file stays where it is until the first change.
        defaults.DamagedCopy = "(копию сохранить не удалось)";
        return defaults;
    }
    defaults.DamagedCopy = aside.toStdString();
    Save(defaults);
    return defaults;
}

QString TSettingsStore::PutAside()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString aside = FPath + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = FPath + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    if (QFile::rename(FPath, aside) || QFile::copy(FPath, aside))
        return QFileInfo(aside).fileName();
    return {};
}

bool TSettingsStore::Save(const TDriverSettings& settings)
{
    QDir().mkpath(QFileInfo(FPath).absolutePath());
    QSaveFile file(FPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray json = ToJson(settings);
    if (file.write(json) != json.size())
        return false;
    return file.commit();
}

} // namespace trutina
