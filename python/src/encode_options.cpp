#include "python/src/encode_options.h"

#include <algorithm>

namespace {

std::string pythonName(const std::string& name)
{
    std::string spelled = name;
    std::replace(spelled.begin(), spelled.end(), '-', '_');
    return spelled;
}

// The value in the form the setting takes; false when it has another type.
bool settingValue(const EncodeSetting& setting, const OptionValue& value, SettingValue* out)
{
    const int64_t* whole = std::get_if<int64_t>(&value);
    switch (setting.kind) {
    case SettingKind::Whole:
        if (whole)
            out->whole = *whole;
        return whole != nullptr;
    case SettingKind::Number:
        if (const double* number = std::get_if<double>(&value))
            out->number = *number;
        else if (whole)
            out->number = double(*whole);
        else
            return false;
        return true;
    case SettingKind::Word:
        if (const std::string* word = std::get_if<std::string>(&value))
            out->word = *word;
        return std::holds_alternative<std::string>(value);
    case SettingKind::Switch:
        if (const bool* on = std::get_if<bool>(&value))
            out->whole = *on ? 1 : 0;
        return std::holds_alternative<bool>(value);
    case SettingKind::Triple: {
        const std::vector<int64_t>* items = std::get_if<std::vector<int64_t>>(&value);
        if (!items || items->size() != 3)
            return false;
        std::copy(items->begin(), items->end(), out->triple);
        return true;
    }
    }
    return false;
}

} // namespace

bool applyEncodeOption(const std::string& name, const OptionValue& value, EncodeSettings* settings,
                       std::string* error)
{
    std::string tableName = name;
    std::replace(tableName.begin(), tableName.end(), '_', '-');
    const EncodeSetting* setting = name.find('-') == std::string::npos ? findEncodeSetting(tableName) : nullptr;
    if (!setting) {
        *error = "unknown option '" + name + "'";
        return false;
    }
    SettingValue v;
    if (!settingValue(*setting, value, &v) || !applyEncodeSetting(*setting, v, settings)) {
        *error = name + " takes " + setting->takes;
        return false;
    }
    return true;
}

bool finishEncodeOptions(EncodeSettings* settings, std::string* error)
{
    SettleMessages said; // Python callers get the settled choices without notes
    return settleEncodeSettings(settings, pythonName, &said, error);
}

std::vector<std::string> encodeOptionNames()
{
    std::vector<std::string> names;
    for (const EncodeSetting& s : encodeSettingTable())
        names.push_back(pythonName(s.name));
    return names;
}
