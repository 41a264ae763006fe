#include "Installation.h"

#include "DatabaseError.h"

namespace parking {

namespace {

const records::ReaderMessages& read(const std::optional<records::ReaderMessages>& messages)
{
    if (!messages)
        throw DatabaseError(QStringLiteral("There is no reader configuration row"));
    return *messages;
}

} // namespace

QString Installation::grantedMessage() const
{
    return fixedText(read(messages_).granted, MessageWidth);
}

std::optional<QString> Installation::refusalMessage(AccessResult refusal) const
{
    const records::ReaderMessages& m = read(messages_);
    switch (refusal) {
    case AccessResult::SubscriberUnknown:
        return fixedText(m.unknownCard, MessageWidth);
    case AccessResult::OutsideTimetable:
        return fixedText(m.timetable, MessageWidth);
    case AccessResult::ReceiptsUnpaid:
        return fixedText(m.unpaid, MessageWidth);
    case AccessResult::FeeNotCurrent:
        return fixedText(m.notCurrent, MessageWidth);
    case AccessResult::Granted:
    case AccessResult::SubscriberBlocked:
    case AccessResult::OutsideFeeHours:
    case AccessResult::EntryTooSoon:
        break;
    }
    return std::nullopt;
}

} // namespace parking
