#include "simulator/ResultCodes.h"

namespace trutina {

namespace {
constexpr TResultInfo Table[] = {
    {TResult::Ok, "Ошибок нет", false},
    {TResult::NoConnection, "Нет связи с весами", false},
    {TResult::DeviceNotEnabled, "Устройство не включено", false},
    {TResult::InvalidParameter, "Недопустимое значение параметра", false},
    {TResult::OutOfRange, "Значение вне допустимого диапазона", false},
    {TResult::DevicesLocked, "Логические устройства заблокированы", false},
    {TResult::NoSuchDevice, "Логическое устройство не найдено", false},
    {TResult::DeviceNumberInUse, "Номер логического устройства уже занят", false},
    {TResult::TooManyDevices, "Достигнуто предельное число логических устройств (99)", false},
    {TResult::LastDevice, "Нельзя удалить единственное логическое устройство", false},
    {TResult::WeightNotStable, "Масса не стабильна", false},
    {TResult::Overload, "Перегрузка: масса больше НПВ", false},
    {TResult::WeightOutOfRange, "Масса вне диапазона взвешивания", false},
    {TResult::ZeroOutOfRange, "Ноль вне диапазона установки нуля", false},
    {TResult::NoMessages, "Нет сообщений", false},
    {TResult::NoSuchMessage, "Сообщение с таким номером не найдено", false},
    {TResult::QueueFull, "Очередь сообщений переполнена", false},
    {TResult::MessagesLost, "Очередь сообщений была переполнена, часть показаний потеряна", true},
    {TResult::SettingsDamaged, "Файл настроек повреждён, восстановлены настройки по умолчанию", true},
    {TResult::SettingsNotSaved, "Не удалось сохранить файл настроек", true},
    {TResult::NoGui, "Окно настроек недоступно: нет графического интерфейса", false},
    {TResult::DialogOpen, "Окно настроек уже открыто", false},
    {TResult::SettingsRefused, "Файл настроек недоступен: используются настройки по умолчанию, изменения не сохраняются", true},
    {TResult::TareSet, "Установка нуля невозможна: установлена тара", false},
    {TResult::SettingsLocked, "Файл настроек занят другим процессом: изменение не сделано", false},
    {TResult::AnswerTimeout, "Весы не ответили за время ожидания", false},
    {TResult::PortBusy, "Порт занят другим логическим устройством или программой", false},
};
} // namespace

std::span<const TResultInfo> ResultTable() { return Table; }

const TResultInfo* FindResult(std::int32_t code)
{
    for (const auto& row : Table)
        if (static_cast<std::int32_t>(row.Code) == code)
            return &row;
    return nullptr;
}

std::string ResultDescription(TResult code)
{
    const TResultInfo* row = FindResult(static_cast<std::int32_t>(code));
    return row ? row->Description : "Неизвестная ошибка";
}

} // namespace trutina
