#include "MemoryRegistry.h"

#include <algorithm>
#include <utility>

using checks::RegistryRoot;

MemoryRegistry::Value MemoryRegistry::Text(std::u16string name, std::u16string_view text,
                                           std::uint32_t type) {
    std::vector<std::uint8_t> data;
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return Value{std::move(name), type, std::move(data)};
}

MemoryRegistry::Value MemoryRegistry::Raw(std::u16string name, std::uint32_t type,
                                          std::vector<std::uint8_t> data) {
    return Value{std::move(name), type, std::move(data)};
}

std::u16string MemoryRegistry::Fold(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return folded;
}

MemoryRegistry::Key* MemoryRegistry::Find(RegistryRoot root, std::u16string_view path) {
    auto it = keys_.find(KeyId{root, Fold(path)});
    return it == keys_.end() ? nullptr : &it->second;
}

void MemoryRegistry::AddKey(RegistryRoot root, std::u16string_view path) {
    keys_[KeyId{root, Fold(path)}];
}

void MemoryRegistry::SetValue(RegistryRoot root, std::u16string_view path, Value value) {
    Key& key = keys_[KeyId{root, Fold(path)}];
    for (Value& existing : key.values) {
        if (Fold(existing.name) == Fold(value.name)) {
            existing = std::move(value);
            return;
        }
    }
    key.values.push_back(std::move(value));
}

void MemoryRegistry::DeleteKey(RegistryRoot root, std::u16string_view path) {
    if (Find(root, path) == current_) current_ = nullptr;
    keys_.erase(KeyId{root, Fold(path)});
}

void MemoryRegistry::DenyReadOnlyOpen(RegistryRoot root, std::u16string_view path) {
    keys_[KeyId{root, Fold(path)}].denyReadOnlyOpen = true;
}

void MemoryRegistry::SetRootKey(RegistryRoot root) {
    root_ = root;
}

bool MemoryRegistry::KeyExists(std::u16string_view path) {
    return Find(root_, path) != nullptr;
}

bool MemoryRegistry::OpenKeyReadOnly(std::u16string_view path) {
    CloseKey();
    Key* key = Find(root_, path);
    if (!key || key->denyReadOnlyOpen) return false;
    current_ = key;
    return true;
}

void MemoryRegistry::GetValueNames(std::vector<std::u16string>& names) {
    names.clear();
    if (!current_) return;
    for (const Value& value : current_->values) names.push_back(value.name);
}

std::u16string MemoryRegistry::ReadString(std::u16string_view name) {
    if (!current_) return {};
    for (const Value& value : current_->values) {
        if (Fold(value.name) == Fold(name))
            return checks::RegistryDataToText(name, value.type, value.data.data(),
                                              value.data.size());
    }
    return {};
}

std::optional<std::uint32_t> MemoryRegistry::ReadInteger(std::u16string_view name) {
    if (!current_) return std::nullopt;
    for (const Value& value : current_->values) {
        if (Fold(value.name) == Fold(name))
            return checks::RegistryDataToInteger(value.type, value.data.data(), value.data.size());
    }
    return std::nullopt;
}

void MemoryRegistry::CloseKey() {
    current_ = nullptr;
}
