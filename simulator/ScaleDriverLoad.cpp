// Load control of the current device's scales, as the settings dialog drives it: the load, the
// swing, the line, slow answers, the load profiles and the refusal injected into the next
// operation. None of it sets a result.
#include "simulator/ScaleDriver.h"

#include <cmath>

namespace trutina {

TScaleDriver::TLoadState TScaleDriver::LoadState()
{
    std::lock_guard lock(FMutex);
    auto& platform = CurrentPlatform();
    const bool connected = platform.Connected(); // brings a running profile up to now first
    return {platform.Load(), platform.Unstable(), connected, platform.AnswerDelay(), platform.AnswersAtOnce()};
}

void TScaleDriver::PutLoad(double kg)
{
    std::lock_guard lock(FMutex);
    if (std::isfinite(kg))
        CurrentPlatform().PutLoad(kg);
}

void TScaleDriver::SetUnstable(bool unstable)
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().SetUnstable(unstable);
}

void TScaleDriver::SetScalesConnected(bool connected)
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().SetConnected(connected);
}

void TScaleDriver::SetAnswerDelay(TMillis ms)
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().SetAnswerDelay(ms);
}

void TScaleDriver::SetAnswerAtOnce(bool atOnce)
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().SetAnswerAtOnce(atOnce);
}

std::vector<std::string> TScaleDriver::LoadProfileNames() const
{
    std::lock_guard lock(FMutex);
    std::vector<std::string> names;
    for (const auto& [name, profile] : FSettings.LoadProfiles)
        if (!profile.Steps.empty())
            names.push_back(name);
    return names;
}

bool TScaleDriver::StartLoadProfile(const std::string& name)
{
    std::lock_guard lock(FMutex);
    const auto profile = FSettings.LoadProfiles.find(name);
    if (profile == FSettings.LoadProfiles.end() || profile->second.Steps.empty())
        return false;
    CurrentPlatform().StartProfile(&profile->second, name);
    return true;
}

void TScaleDriver::StopLoadProfile()
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().StopProfile();
}

void TScaleDriver::RestartLoadProfile()
{
    std::lock_guard lock(FMutex);
    CurrentPlatform().Restart();
    ForgetExchange();
}

TScaleDriver::TProfileView TScaleDriver::LoadProfileView()
{
    std::lock_guard lock(FMutex);
    TScalePlatform& platform = CurrentPlatform();
    TProfileView view;
    view.Profile = platform.ProfileState();
    view.Enabled = Current().Enabled;
    view.Reading = platform.Look();
    return view;
}

void TScaleDriver::InjectRefusal(std::optional<TResult> code)
{
    std::lock_guard lock(FMutex);
    FInjected = code && *code != TResult::Ok ? code : std::nullopt;
}

std::optional<TResult> TScaleDriver::InjectedRefusal() const
{
    std::lock_guard lock(FMutex);
    return FInjected;
}

} // namespace trutina
