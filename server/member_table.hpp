// The table itself, kept apart so that only the code that builds the
// early-bound slots from it at compile time sees it; everything else reads
// it through members.hpp.
#pragma once

#include "server/members.hpp"

#include <quillpost/collections.hpp>
#include <quillpost/enumerator.hpp>
#include <quillpost/message.hpp>

namespace quillpost::server::table {

using Args = std::span<const Variant>;

template <class T>
T& As(Dispatch& self) {
    return static_cast<T&>(self);
}
template <class T>
std::shared_ptr<Dispatch> Create() {
    return std::make_shared<T>();
}

// Parameter lists; a put's value is named as the platform's tools name it.
inline constexpr Param kNone[1] = {};
inline constexpr Param kPutText[] = {{"RHS", VT_BSTR, false, false}};
inline constexpr Param kPutI4[] = {{"RHS", VT_I4, false, false}};
inline constexpr Param kPutI2[] = {{"RHS", VT_I2, false, false}};
inline constexpr Param kPutR4[] = {{"RHS", VT_R4, false, false}};
inline constexpr Param kPutDate[] = {{"RHS", VT_DATE, false, false}};
inline constexpr Param kPutBool[] = {{"RHS", VT_BOOL, false, false}};
inline constexpr Param kIndex[] = {{"vIndex", VT_VARIANT, true, false}};
inline constexpr Param kAddress[] = {{"Address", VT_BSTR, true, false}};
inline constexpr Param kContext[] = {{"ScriptingContext", VT_DISPATCH, true, false}};
inline constexpr Param kRecipientAdd[] = {{"vAddress", VT_VARIANT, true, false}, {"vName", VT_VARIANT, true, true}};
inline constexpr Param kHeaderAdd[] = {{"Name", VT_VARIANT, true, false}, {"Value", VT_VARIANT, true, false}};
inline constexpr Param kData[] = {{"vData", VT_VARIANT, true, false}};
inline constexpr Param kFileName[] = {{"vFileName", VT_VARIANT, true, false}};
inline constexpr std::span<const Param> kNoParams(kNone, 0);

// Rows of a string property: put then get.
#define QP_TEXT_PROPERTY(Class, Name, Id)                                                                   \
    Member{#Name, Kind::Put, Id, kPutText, VT_EMPTY, nullptr,                                               \
           [](Dispatch& d, Args a) -> Variant { As<Class>(d).Name(a[0].text()); return {}; }},              \
    Member{#Name, Kind::Get, Id, kNoParams, VT_BSTR, nullptr,                                               \
           [](Dispatch& d, Args) -> Variant { return As<Class>(d).Name(); }}

inline constexpr Member kRecipientMembers[] = {
    QP_TEXT_PROPERTY(Recipient, Name, 0x68030000),
    QP_TEXT_PROPERTY(Recipient, Address, 0),
};
inline constexpr ClassInfo kRecipient = {
    "Recipient", "_Recipient",
    {0x3FF38B2B, 0x4963, 0x48D1, {0xB2, 0x59, 0x1D, 0xE6, 0xEA, 0xA2, 0x39, 0xD7}},
    {0xB71FE390, 0xE6EF, 0x4035, {0x9A, 0x3A, 0x9B, 0x85, 0xBF, 0xD6, 0xCC, 0x7E}},
    kRecipientMembers, &typeid(Recipient), &Create<Recipient>};

// The members every collection shares after its Add.
#define QP_COLLECTION_TAIL(Class, ItemClass, RemoveId, ClearId)                                                  \
    Member{"Remove", Kind::Method, RemoveId, kIndex, VT_EMPTY, nullptr,                                     \
           [](Dispatch& d, Args a) -> Variant { As<Class>(d).Remove(a[0]); return {}; }},                   \
    Member{"Clear", Kind::Method, ClearId, kNoParams, VT_EMPTY, nullptr,                                    \
           [](Dispatch& d, Args) -> Variant { As<Class>(d).Clear(); return {}; }},                          \
    Member{"Count", Kind::Get, 0x68030000, kNoParams, VT_I4, nullptr,                                       \
           [](Dispatch& d, Args) -> Variant { return As<Class>(d).Count(); }},                              \
    Member{"Item", Kind::Get, 0, kIndex, VT_DISPATCH, &ItemClass,                                                \
           [](Dispatch& d, Args a) -> Variant { return As<Class>(d).Item(a[0]); }},                         \
    Member{"NewEnum", Kind::Get, DISPID_NEWENUM, kNoParams, VT_UNKNOWN, &ItemClass,                              \
           [](Dispatch& d, Args) -> Variant { return As<Class>(d).NewEnum(); }}

inline constexpr Member kRecipientsMembers[] = {
    {"Add", Kind::Method, 0x60030001, kRecipientAdd, VT_EMPTY, nullptr,
     [](Dispatch& d, Args a) -> Variant { As<Recipients>(d).Add(a[0], a[1]); return {}; }},
    QP_COLLECTION_TAIL(Recipients, kRecipient, 0x60030002, 0x60030003),
};
inline constexpr ClassInfo kRecipients = {
    "Recipients", "_Recipients",
    {0x11F9AE51, 0xC8F6, 0x499C, {0xB0, 0xF7, 0xF7, 0xAE, 0x5B, 0x58, 0x2C, 0x4A}},
    {0x421E96B8, 0xA47C, 0x4C74, {0xA1, 0xA1, 0x2D, 0x1F, 0x86, 0x2E, 0x7E, 0x6B}},
    kRecipientsMembers, &typeid(Recipients), &Create<Recipients>};

inline constexpr Member kHeaderMembers[] = {
    QP_TEXT_PROPERTY(Header, Name, 0),
    QP_TEXT_PROPERTY(Header, Value, 0x68030000),
    {"Parse", Kind::Method, 0x60030001, kData, VT_BOOL, nullptr,
     [](Dispatch& d, Args a) -> Variant { return As<Header>(d).Parse(a[0]); }},
};
inline constexpr ClassInfo kHeader = {
    "Header", "_Header",
    {0x0E40DF60, 0xC216, 0x45C7, {0xA9, 0x12, 0xAA, 0x41, 0xB9, 0xCE, 0xA1, 0xD0}},
    {0xB4F5EE25, 0x1949, 0x4E10, {0x96, 0x18, 0x4E, 0xDF, 0x8B, 0xCA, 0xA7, 0x1D}},
    kHeaderMembers, &typeid(Header), &Create<Header>};

// In _Headers, 0x60030002 belongs to no public member.
inline constexpr Member kHeadersMembers[] = {
    {"Add", Kind::Method, 0x60030001, kHeaderAdd, VT_EMPTY, nullptr,
     [](Dispatch& d, Args a) -> Variant { As<Headers>(d).Add(a[0], a[1]); return {}; }},
    QP_COLLECTION_TAIL(Headers, kHeader, 0x60030003, 0x60030004),
};
inline constexpr ClassInfo kHeaders = {
    "Headers", "_Headers",
    {0x72F825C7, 0x8D14, 0x4AB3, {0x8F, 0xDB, 0xBB, 0x1A, 0xDB, 0xA1, 0x8F, 0xE5}},
    {0xC437DA67, 0x0AE2, 0x4B5C, {0xA9, 0xC4, 0xED, 0x21, 0x3D, 0x79, 0x6B, 0x3E}},
    kHeadersMembers, &typeid(Headers), &Create<Headers>};

inline constexpr Member kAttachmentMembers[] = {
    QP_TEXT_PROPERTY(Attachment, FileName, 0),
};
inline constexpr ClassInfo kAttachment = {
    "Attachment", "_Attachment",
    {0xE1B85623, 0xEDDF, 0x467A, {0xAE, 0xDD, 0x99, 0x23, 0xBF, 0x75, 0x31, 0xF6}},
    {0x3C36D564, 0x65FB, 0x418A, {0xA8, 0x02, 0x11, 0x56, 0xB9, 0x71, 0x43, 0x52}},
    kAttachmentMembers, &typeid(Attachment), &Create<Attachment>};

inline constexpr Member kAttachmentsMembers[] = {
    {"Add", Kind::Method, 0x60030001, kFileName, VT_EMPTY, nullptr,
     [](Dispatch& d, Args a) -> Variant { As<Attachments>(d).Add(a[0]); return {}; }},
    QP_COLLECTION_TAIL(Attachments, kAttachment, 0x60030002, 0x60030003),
};
inline constexpr ClassInfo kAttachments = {
    "Attachments", "_Attachments",
    {0xE6D13EAA, 0x1713, 0x4467, {0x87, 0x23, 0xE5, 0xCD, 0x34, 0x2B, 0x04, 0xB0}},
    {0x57E3804E, 0x9DA7, 0x421A, {0x98, 0xCD, 0xEF, 0x5F, 0x19, 0x7F, 0x96, 0x64}},
    kAttachmentsMembers, &typeid(Attachments), &Create<Attachments>};

// A property of Message with a value of a type other than text.
#define QP_PROPERTY(Name, Id, PutParams, Type, ToResult, FromArg)                                                    \
    Member{#Name, Kind::Put, Id, PutParams, VT_EMPTY, nullptr,                                              \
           [](Dispatch& d, Args a) -> Variant { As<Message>(d).Name(FromArg); return {}; }},                    \
    Member{#Name, Kind::Get, Id, kNoParams, Type, nullptr,                                                  \
           [](Dispatch& d, Args) -> Variant { return ToResult(As<Message>(d).Name()); }}
// A read-only property of Message that hands out one of its collections.
#define QP_COLLECTION(Name, Id, ItemClass)                                                                      \
    Member{#Name, Kind::Get, Id, kNoParams, VT_DISPATCH, &ItemClass,                                        \
           [](Dispatch& d, Args) -> Variant { return As<Message>(d).Name(); }}

inline Variant AsIs(Variant v) { return v; }
inline Variant AsDate(double days) { return Variant::date(days); }

inline constexpr Member kMessageMembers[] = {
    {"send", Kind::Method, 0x6003001D, kNoParams, VT_EMPTY, nullptr,
     [](Dispatch& d, Args) -> Variant { As<Message>(d).send(); return {}; }},
    QP_COLLECTION(Attachments, 0x68030012, kAttachments),
    QP_PROPERTY(DateTime, 0x68030011, kPutDate, VT_DATE, AsDate, a[0].date_value()),
    QP_PROPERTY(ConfirmReading, 0x68030010, kPutBool, VT_BOOL, AsIs, a[0].ToBool()),
    QP_TEXT_PROPERTY(Message, Subject, 0),
    QP_TEXT_PROPERTY(Message, Server, 0x6803000F),
    QP_PROPERTY(Port, 0x6803000E, kPutI4, VT_I4, AsIs, a[0].ToInt32()),
    QP_PROPERTY(Priority, 0x6803000D, kPutI2, VT_I2, AsIs, a[0].ToInt32()),
    QP_TEXT_PROPERTY(Message, TextBody, 0x6803000C),
    QP_TEXT_PROPERTY(Message, HtmlBody, 0x6803000B),
    QP_TEXT_PROPERTY(Message, FromName, 0x6803000A),
    QP_TEXT_PROPERTY(Message, FromAddress, 0x68030009),
    QP_TEXT_PROPERTY(Message, Application, 0x68030008),
    QP_PROPERTY(TimeOut, 0x68030007, kPutR4, VT_R4, AsIs, static_cast<float>(a[0].ToDouble())),
    QP_TEXT_PROPERTY(Message, TraceFile, 0x68030006),
    QP_TEXT_PROPERTY(Message, Organization, 0x68030005),
    QP_COLLECTION(Recipients, 0x68030004, kRecipients),
    QP_COLLECTION(CCs, 0x68030003, kRecipients),
    QP_COLLECTION(BCCs, 0x68030002, kRecipients),
    QP_COLLECTION(ReplyTos, 0x68030001, kRecipients),
    QP_COLLECTION(ExtraHeaders, 0x68030000, kHeaders),
    {"CheckSender", Kind::Method, 0x60030022, kAddress, VT_EMPTY, nullptr,
     [](Dispatch& d, Args a) -> Variant { As<Message>(d).CheckSender(a[0].text()); return {}; }},
    {"OnStartPage", Kind::Method, 0x60030024, kContext, VT_VARIANT, nullptr,
     [](Dispatch& d, Args a) -> Variant { return As<Message>(d).OnStartPage(a[0]); }},
};
inline constexpr ClassInfo kMessage = {
    "Message", "_Message",
    {0x345C0B8C, 0x8436, 0x4E32, {0xA6, 0x4A, 0x86, 0xDC, 0x25, 0xC9, 0xC3, 0xA9}},
    {0x7FCFC88A, 0xB306, 0x4DA1, {0xBB, 0x3F, 0xF3, 0xC3, 0xC5, 0x10, 0x5E, 0xBC}},
    kMessageMembers, &typeid(Message), &Create<Message>};

#undef QP_TEXT_PROPERTY
#undef QP_COLLECTION_TAIL
#undef QP_PROPERTY
#undef QP_COLLECTION

inline constexpr const ClassInfo* kClasses[] = {&kMessage, &kRecipients, &kRecipient, &kHeaders,
                                                &kHeader, &kAttachments, &kAttachment};

inline constexpr EnumValue kPriorities[] = {
    {"QP_PRIORITY_NONE", QP_PRIORITY_NONE},     {"QP_PRIORITY_HIGHEST", QP_PRIORITY_HIGHEST},
    {"QP_PRIORITY_HIGH", QP_PRIORITY_HIGH},     {"QP_PRIORITY_NORMAL", QP_PRIORITY_NORMAL},
    {"QP_PRIORITY_LOW", QP_PRIORITY_LOW},       {"QP_PRIORITY_LOWEST", QP_PRIORITY_LOWEST},
};

inline constexpr LibraryInfo kLibrary = {
    "Quillpost",
    {0xBEEF4987, 0xD50D, 0x4052, {0xBB, 0x1C, 0xCD, 0x8A, 0x6F, 0xAB, 0x64, 0xA1}},
    1, 0, 0x409, kClasses, "QP_PRIORITY",
    {0xB5D2062D, 0x60BC, 0x49BE, {0x83, 0x5F, 0x3E, 0x7C, 0xA9, 0x93, 0xA3, 0x4B}},
    kPriorities};

}  // namespace quillpost::server::table
