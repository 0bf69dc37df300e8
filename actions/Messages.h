// The messages of the two actions, as code page 936 bytes. The comment
// beside each gives the text in UTF-8.
#pragma once

namespace Messages {
constexpr const char kOpenFailed[] = "\xc9\xe8\xb1\xb8\xb4\xf2\xbf\xaa\xca\xa7\xb0\xdc\xa3\xa1";  // 设备打开失败！
constexpr const char kReadFailed[] =
    "\xbb\xf1\xc8\xa1\xb0\xe6\xb1\xbe\xd0\xc5\xcf\xa2\xca\xa7\xb0\xdc\x21";                    // 获取版本信息失败!
constexpr const char kNeedTwoPlaces[] = "\xc7\xeb\xca\xe4\xc8\xeb\xc1\xbd\xce\xbb\xd6\xb5\x21";  // 请输入两位值!
constexpr const char kWriteFailed[] = "\xd0\xb4\xc9\xe8\xb1\xb8\xd0\xc5\xcf\xa2\xca\xa7\xb0\xdc\x21";    // 写设备信息失败!
constexpr const char kWriteSucceeded[] = "\xd0\xb4\xc9\xe8\xb1\xb8\xd0\xc5\xcf\xa2\xb3\xc9\xb9\xa6\x21";  // 写设备信息成功!
// Ours: a write before any successful read has no record to send.
constexpr const char kOpenFirst[] = "\xc7\xeb\xcf\xc8\xb4\xf2\xbf\xaa\xc9\xe8\xb1\xb8\x21";  // 请先打开设备!
}  // namespace Messages
