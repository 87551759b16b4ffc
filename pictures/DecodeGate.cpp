#include "pictures/DecodeGate.h"

#include "platform/FileOps.h"

#include <cmath>

namespace {

// A side longer than this, or more pixels than this, no display can use.
constexpr qint64 kMaxSide = qint64(1) << 20;
constexpr qint64 kMaxSourcePixels = qint64(1) << 32;

thread_local DecodeScope* current = nullptr;

QSize Reduced(QSize source, qint64 maxPixels) {
    const double area = double(source.width()) * source.height();
    if (area <= double(maxPixels)) return source;
    const double f = std::sqrt(double(maxPixels) / area);
    return QSize(std::max(1, int(source.width() * f)), std::max(1, int(source.height() * f)));
}

}  // namespace

QString DescribeLoadError(const LoadError& e) {
    switch (e.kind) {
        case LoadError::None:
            return {};
        case LoadError::Missing:
            return QStringLiteral("ファイルがありません");
        case LoadError::NotAFile:
            return QStringLiteral("通常のファイルではありません");
        case LoadError::Unreadable:
            return QStringLiteral("ファイルを読めません：") + DescribeFileError(e.systemError);
        case LoadError::UnknownFormat:
            return QStringLiteral("画像の形式が分かりません");
        case LoadError::Unsupported:
            return QStringLiteral("この種類の画像には対応していません");
        case LoadError::Damaged:
            return e.atByte >= 0 ? QStringLiteral("画像が壊れています（%1 バイト目）").arg(e.atByte)
                                 : QStringLiteral("画像が壊れています");
        case LoadError::TooLarge:
            // A file too large to read has no size to name.
            if (e.size.isEmpty()) return QStringLiteral("画像が大きすぎます");
            return QStringLiteral("画像が大きすぎます（%1×%2 ピクセル）")
                .arg(e.size.width())
                .arg(e.size.height());
        case LoadError::Cancelled:
            return QStringLiteral("読み込みを取り消しました");
    }
    return {};
}

std::optional<QSize> PlanDecode(QSize source, QSize displaySize) {
    if (source.isEmpty() || source.width() > kMaxSide || source.height() > kMaxSide ||
        qint64(source.width()) * source.height() > kMaxSourcePixels)
        return std::nullopt;
    const bool shown = !displaySize.isEmpty() &&
                       qint64(displaySize.width()) * displaySize.height() <= kMaxDisplayPixels;
    return shown ? displaySize : Reduced(source, kMaxKeptPixels);
}

DecodeScope::DecodeScope(const std::atomic<bool>* cancel) : cancel_(cancel), outer_(current) {
    current = this;
}

DecodeScope::~DecodeScope() {
    current = outer_;
}

void ReportDecodeError(const LoadError& error) {
    if (current && current->error_.kind == LoadError::None) current->error_ = error;
}

void ReportDamage(qint64 atByte) {
    ReportDecodeError({LoadError::Damaged, atByte, {}, 0});
}

bool DecodeCancelled() {
    if (!current || !current->cancel_ || !current->cancel_->load(std::memory_order_relaxed))
        return false;
    ReportDecodeError({LoadError::Cancelled, -1, {}, 0});
    return true;
}
