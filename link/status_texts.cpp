// Built-in status texts.
#include "status_texts.h"

namespace vq31 {

StatusTexts StatusTexts::Defaults() {
    StatusTexts t;
    t.device[0] = "Статус устройства: ОК";
    t.device[1] = "Статус устройства: Команда не выполнена";
    t.device[2] = "Статус устройства: Неверный параметр";
    t.device[3] = "Статус устройства: Ошибка CRC";
    t.device[4] = "Статус устройства: Неверная длинна пакета";
    t.device[5] = "Статус устройства: Неверный ответ";
    t.device[6] = "Статус устройства: Устройство не отвечает";
    t.device[7] = "Статус устройства: Ошибка записи в порт";
    t.device[8] = "Статус устройства: Ошибка порта";
    t.device[224] = "Статус устройства: Ошибка записи в Flash память";
    t.device[225] = "Статус устройства: Низкая температура для записи в Flash";
    t.device[226] = "Статус устройства: Серийный номер уже сужествует";
    t.device[227] = "Статус устройства: Неверные данные";
    t.device[228] = "Статус устройства: Неверный параметр";
    t.device[229] = "Статус устройства: Хаб активен";
    t.port[0] = "Статус порта: Порт открыт";
    t.port[1] = "Статус порта: Порт закрыт";
    t.port[2] = "Статус порта: Ошибка открытия";
    return t;
}

std::string StatusTexts::DeviceKey(int code) {
    if ((code >= 0 && code <= 8) || (code >= 224 && code <= 229))
        return "sta_device" + std::to_string(code);
    return {};
}

const std::array<const char*, 3>& StatusTexts::PortKeys() {
    static const std::array<const char*, 3> keys = {"sta_port_opened", "sta_port_closed",
                                                    "sta_port_error"};
    return keys;
}

} // namespace vq31
