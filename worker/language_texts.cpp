// Built-in Russian texts of the main window.
#include "language_texts.h"

namespace vq31 {

const std::vector<TextEntry>& LanguageTexts::MessageDefaults() {
    static const std::vector<TextEntry> entries = {
        {msg::ChangeLanguage,
         "Необходимо перезапустить программу, чтобы изменения вступили в силу"},
        {msg::ErrorOpenPort, "Ошибка открытия порта COM"},
        {msg::SoundSpeedWrong, "Неверное значение скорости звука"},
        {msg::ThermoWrong, "Неверное значение температурного коэф."},
        {msg::FirmwareWrong, "Версия встроенного ПО не поддерживается программой"},
        {msg::HubWrong, "Неверная структура HUB_DATA. Создать конфигурацию по умолчанию?"},
        {msg::DeviceWrong, "Устройство не поддерживается программой"},
        {msg::TableTooBig, "Размер тарировочной таблицы превышает максимально допустимый"},
        {msg::UpdateProgram, "Пожалуйста, обновите программу"},
        {msg::Ok, "OK"},
        {msg::ErrorE, "Ошибка Е"},
        {msg::Signal, "Уровень сигнала"},
        {msg::Scanning, "Сканирование..."},
        {msg::Inactive, "Не активен"},
        {msg::Wide, "Wide"},
        {msg::AutoCompleted, "Автоматическое определение параметров завершено успешно"},
        {msg::AutoFailed, "Автоматическое определение параметров завершено неудачно. Ошибка Е"},
        {msg::AfcCompleted, "Построение АЧХ завершено"},
        {msg::AutoFound, "Датчик установил:"},
        {msg::AutoSame, "Настройки сигнала остались прежними."},
        {msg::TuneFrequency, "Частота"},
        {msg::TuneFilter, "Фильтр"},
        {msg::TunePulse, "Длительность импульса"},
        {msg::TuneGain, "Усиление (Ku / предел)"},
        {msg::TuneAttenuator, "Аттенюатор"},
        {msg::TuneIntegrator, "Интегратор (порог / мёртвая зона)"},
        {msg::SpeedNotChosen, "Скорость не выбрана: скорость устройства не изменена"},
        {msg::NoTankSheets, "В книге нет ни одного листа бака. Заменить список баков "
                            "конфигурацией по умолчанию?"},
        {msg::OutOfRange, "Значение %1 вне допустимого диапазона %2..%3"},
        {msg::LanguageMissing, "Файл языка не найден (искали: %1)"},
        {msg::RowsLeftOut, "Не все строки вошли в таблицы: %1"},
        {msg::FileWriteFailed, "Не удалось записать файл: %1"},
        {msg::SnapshotFailed, "Снимок устройства не сохранён, ничего не записано:"},
        {msg::NothingWritten, "Ничего не записано."},
        {msg::ReadBackFailed, "Запись не проверена чтением:"},
        {msg::ReadBackDiffers, "Устройство не хранит записанное. Отличаются:"},
        {msg::SnapshotNone, "Снимок не выбран."},
        {msg::SnapshotOtherSerial, "Снимок другого датчика. S/N снимка и устройства:"},
        {msg::SnapshotAskOther, "Всё равно восстановить?"},
        {msg::SnapshotSame, "Различий нет: датчик хранит то же, что и снимок."},
        {msg::SnapshotDiffers, "Датчик и снимок отличаются:"},
        {msg::SnapshotRestored, "Снимок восстановлен и проверен чтением."},
        {msg::HubPagesWritten, "Записано страниц HUB_DATA: %1 из %2. Устройство хранит начало "
                               "новой таблицы и конец прежней."},
        {msg::HubOfferRestore, "Вернуть в устройство снимок, сохранённый перед записью?"},
        {msg::PortUnplugged, "%1: адаптер отключён, порт закрыт. Когда он будет подключён "
                             "снова, нажмите «Подключить снова»."},
        {msg::PortBack, "%1 снова подключён"},
        {msg::GatewayOwnSpeed, "%1: шлюз TCP работает на своей скорости и не может её "
                               "изменить, поиск только на %2 бит/с"},
        {msg::GatewayNoFastMode, "%1: быстрому режиму осциллографа нужна скорость %2 бит/с, а "
                                 "шлюз TCP не может изменить свою скорость. Подключитесь через "
                                 "шлюз RFC 2217 (rfc2217://)."},
        {msg::GatewayNoSpeedChange, "%1: шлюз TCP не может изменить свою скорость, и устройство "
                                    "на скорости %2 бит/с стало бы недоступно. Параметры не "
                                    "записаны. Подключитесь через шлюз RFC 2217 (rfc2217://)."},
        {msg::SnapshotListEmpty, "Снимков нет."},
        {msg::SnapshotUnreadable, "Файл не читается: %1"},
        {msg::SnapshotAskRestore, "Записать в устройство HUB_DATA из снимка %1? Текущее состояние "
                                  "будет сохранено новым снимком."},
        {msg::SnapshotAskRestoreParams, "Записать в устройство HUB_DATA и параметры из снимка %1? "
                                        "Текущее состояние будет сохранено новым снимком."},
        {msg::SnapshotTime, "Время: %1"},
        {msg::SnapshotLink, "Адрес: %1, скорость: %2, период автовыдачи: %3, пост-фильтрация: %4"},
        {msg::SnapshotFuel, "Тип топлива: %1, скорость звука: %2, температурный коэф.: %3"},
        {msg::SnapshotTank, "Тип бака: %1, высота бака: %2 мм"},
        {msg::SnapshotHub, "HUB_DATA: %1 байт, версия %2, %3"},
        {msg::SnapshotItem, "Датчик %1, %2: %3"},
        {msg::SnapshotNoHub, "%1: снимок не содержит HUB_DATA"},
        {msg::SnapshotNoFolder, "нет папки для снимков"},
        {msg::SnapshotFolder, "Папка снимков: %1"},
        {msg::SnapshotSerial, "Серийный номер: %1"},
        {msg::SnapshotReason, "Снят %1"},
        {msg::ReasonTable, "перед записью тарировочной таблицы бака %1"},
        {msg::ReasonTanks, "перед записью списка баков"},
        {msg::ReasonActive, "перед выбором бака %1 рабочим"},
        {msg::ReasonHeight, "перед записью высоты бака"},
        {msg::ReasonSettings, "перед установкой параметров (%1)"},
        {msg::ReasonRestore, "перед восстановлением снимка от %1"},
        {msg::ReasonUnknown, "перед записью в датчик"},
        {msg::DiffLine, "%1: в датчике %2, в снимке %3"},
        {msg::DiffTableValues, "%1: строк %2 и в датчике, и в снимке, но значения отличаются"},
        {msg::DiffHubBytes, "HUB_DATA: в датчике %1 байт, в снимке %2 байт, содержимое отличается"},
        {msg::DiffRows, "строк %1"},
        {msg::DiffAbsent, "нет"},
        {msg::DiffOn, "вкл."},
        {msg::DiffOff, "выкл."},
        {msg::DiffTable, "Таблица бака %1"},
        {"str_field_address", "Адрес"},
        {"str_field_period", "Период автовыдачи"},
        {"str_field_linkflags", "Скорость и флаги выдачи"},
        {"str_field_speed", "Скорость, бит/с"},
        {"str_field_auto", "Автовыдача"},
        {"str_field_answer255", "Ответ по адресу 255"},
        {"str_field_bits", "Разрядность данных"},
        {"str_field_otherflags", "Прочие флаги выдачи"},
        {"str_field_postfilter", "Пост-фильтрация"},
        {"str_field_fueltype", "Тип топлива"},
        {"str_field_tempcoef", "Температурный коэф."},
        {"str_field_soundspeed", "Скорость звука в топливе"},
        {"str_field_tankid", "Рабочий бак"},
        {"str_field_tankheight", "Высота бака, мм"},
        {"str_field_mlperbit", "Выдача в литрах"},
        {"str_field_hubversion", "Версия хаба"},
        {"str_field_fuel", "Настройки топлива"},
        {msg::FieldHubPages, "Образ HUB_DATA (страницы %1)"},
        {msg::FieldHubSize, "Размер образа HUB_DATA"},
        {msg::TrafficCounts, "Запросов %1, ответов %2, искажённых %3, без ответа %4, "
                             "отклонённых %5, %6 запросов/с"},
        {msg::TrafficExchanges, "Обменов %1"},
        {msg::TrafficLastError, "Последняя ошибка: %1"},
        {msg::TrafficNone, "нет"},
        {"str_traffic_status0", "ОК"},
        {"str_traffic_status1", "не выполнено"},
        {"str_traffic_status2", "неверный параметр"},
        {"str_traffic_status3", "ошибка CRC"},
        {"str_traffic_status4", "неверная длина"},
        {"str_traffic_status5", "неверный ответ"},
        {"str_traffic_status6", "нет ответа"},
        {"str_traffic_status7", "ошибка записи в порт"},
        {"str_traffic_status8", "ошибка порта"},
        {msg::TrafficOther, "прочие"},
        {msg::FilterText, "Текст"},
        {msg::FilterAll, "Все файлы"},
        // The wide-band item of the filter list (CmbFiltr item 0), which has no list key of
        // its own among the rebuilt lists.
        {"str_cmb_Filtr0", "WideBand"},
        {msg::HubSound, "структура верна"},
        {msg::HubBroken, "структура неверна"},
        {msg::SaveFailed, "Не удалось сохранить %1: %2"},
        {msg::WriteDone, "Записано и проверено чтением."},
        {msg::WriteUnchanged, "Устройство уже хранит эти данные: ничего не записано."},
        {msg::WriteFinished,
         "Запись остановлена: образ дописан до конца (%1 стр.) и проверен чтением."},
        {msg::WritePutBack,
         "Запись остановлена: прежнее содержимое возвращено (%1 стр.) и проверено чтением."},
        {msg::TankIdWritten, "Записаны тип и высота бака; таблица HUB_DATA в устройстве прежняя."},
        {msg::SettingsWritten, "Параметры, записанные до ошибки: %1"},
        {msg::RestoreFrom, "Снимок для восстановления: %1"},
        {msg::SlotBusy, "Устройство занято другой операцией; повторите, когда она закончится."},
        {msg::CensusColumns, "Адрес;Скорость;Серийный номер;Модель;Версия ПО;Состояние"},
        {msg::CensusFound, "найден"},
        {msg::CensusCollision, "два или более датчика на одном адресе"},
        {msg::CensusProgress, "Опрос линии: %1 бит/с, адрес %2 (%3%), осталось около %4 с"},
        {msg::CensusDone, "Найдено датчиков: %1, коллизий: %2 за %3 с"},
        {msg::CensusCancelled, "Опрос линии прерван. Найдено датчиков: %1, коллизий: %2"},
        {msg::CensusNoise, "%1 бит/с: искажённые ответы на многих адресах (помехи на линии или "
                           "датчики на другой скорости)"},
        {msg::ReaddressAsk, "Новый адрес датчика с адресом %1 (0..254):"},
        {msg::ReaddressDone,
         "Датчик %1 перенесён с адреса %2 на адрес %3 и отвечает на новом адресе."},
        {msg::ReaddressBad, "Новый адрес должен лежать от 0 до 254 и отличаться от прежнего."},
        {msg::ReaddressTaken,
         "Адрес %1 занят: на нём отвечает другое устройство. Ничего не записано."},
        {msg::ReaddressNoSensor, "На адресе %1 никто не отвечает. Ничего не записано."},
        {msg::ReaddressCollision, "На адресе %1 отвечают два или более датчика: по адресу их не "
                                  "разделить, ничего не записано. Подключите (или включите) "
                                  "датчики по одному и перенесите тот, который отвечает."},
        {msg::ReaddressWriteFailed, "Адрес не записан, датчик на адресе %1 не найден:"},
        {msg::ReaddressNotConfirmed, "Адрес записан, но датчик %1 не отвечает на адресе %2:"},
    };
    return entries;
}

const std::vector<TextEntry>& LanguageTexts::ListDefaults() {
    static const std::vector<TextEntry> entries = {
        {"str_cmb_bits0", "10 бит"},
        {"str_cmb_bits1", "12 бит"},
        {"str_cmb_MlPerBit0", "1 мл/бит"},
        {"str_cmb_MlPerBit1", "10 мл/бит"},
        {"str_cmb_MlPerBit2", "100 мл/бит"},
        {"str_cmb_MlPerBit3", "1 л/бит"},
        {"str_cmb_MlPerBit4", "10 л/бит"},
        {"str_cmb_FuelType0", "Пользовательский"},
        {"str_cmb_FuelType1", "Пропан-бутан"},
        {"str_cmb_FuelType2", "Бензин"},
        {"str_cmb_FuelType3", "Дизель"},
        {"str_cmb_255Ans0", "Адресом 255"},
        {"str_cmb_255Ans1", "Своим адресом"},
        {"str_cmb_OscillMode0", "Огибающая"},
        {"str_cmb_OscillMode1", "Исходный"},
        {"str_cmb_OscillMode2", "Фильтрованый"},
        {"str_cmb_Ku", "Авто"},
        {"str_cmb_KuMax", "б/огр."},
        {"str_cmb_Atten0", "Выкл."},
        {"str_cmb_Atten1", "Вкл."},
    };
    return entries;
}

std::string WithArguments(std::string_view text, std::initializer_list<std::string> arguments) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t n = i + 1 < text.size() ? std::size_t(text[i + 1] - '1') : 9;
        if (text[i] == '%' && n < arguments.size()) {
            out += *(arguments.begin() + n);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

LanguageTexts::LanguageTexts() : status_(StatusTexts::Defaults()) {
    for (const auto& e : MessageDefaults())
        texts_[e.key] = e.text;
    for (const auto& e : ListDefaults())
        texts_[e.key] = e.text;
}

const std::string& LanguageTexts::Text(std::string_view key) const {
    static const std::string empty;
    const auto it = texts_.find(key);
    return it == texts_.end() ? empty : it->second;
}

void LanguageTexts::Set(const std::string& key, std::string text) {
    texts_[key] = std::move(text);
}

const std::string& LanguageTexts::DeviceStatus(int status) const {
    static const std::string empty;
    if (status < 0 || status >= int(status_.device.size()))
        return empty;
    return status_.device[size_t(status)];
}

const std::string& LanguageTexts::PortStatus(int portState) const {
    static const std::string empty;
    if (portState < 0 || portState >= int(status_.port.size()))
        return empty;
    return status_.port[size_t(portState)];
}

} // namespace vq31
