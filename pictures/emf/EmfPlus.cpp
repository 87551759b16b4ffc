#include "pictures/emf/EmfPlus.h"

#include "pictures/emf/PlusObjects.h"
#include "pictures/emf/PlusRecords.h"

namespace emf::plus {

Renderer::Renderer(QPainter& painter, QTransform toOutput, QSizeF dpi)
    : p_(painter), out_(toOutput), dpi_(dpi) {}

void Renderer::Play(QByteArrayView records) {
    qint64 at = 0;
    while (at + 12 <= records.size()) {
        const Reader head(records.sliced(at, 12));
        const uint16_t type = head.U16(0), flags = head.U16(2);
        const uint32_t size = head.U32(4), dataSize = head.U32(8);
        if (size < 12 || size > records.size() - at || dataSize > size - 12) return;
        Record(type, flags, Reader(records.sliced(at + 12, dataSize)));
        at += size;
    }
}

void Renderer::Record(uint16_t type, uint16_t flags, const Reader& r) {
    if (type == kHeader) {
        seenHeader_ = true;
        const double x = r.U32(8), y = r.U32(12);
        if (x > 0 && y > 0 && x < 1e5 && y < 1e5) dpi_ = QSizeF(x, y);
    }
    afterGetDc_ = type == kGetDc;
    if (!seenHeader_ || type == kHeader || type == kGetDc || type == kEndOfFile) return;
    if (type == kObject) return ObjectRecord(flags, r);
    if (!StateRecord(type, flags, r)) DrawingRecord(type, flags, r);
}

// ---- objects -----------------------------------------------------------------

// An object larger than one record comes in pieces, each headed by the total size.
void Renderer::ObjectRecord(uint16_t flags, const Reader& r) {
    const uint8_t id = flags & 0xFF;
    const uint32_t kind = (flags >> 8) & 0x7F;
    const bool continues = flags & 0x8000;
    if (!continues && pending_.isEmpty()) return StoreObject(id, kind, r);
    if (continues && pending_.isEmpty()) {
        pendingTotal_ = r.U32(0);
        if (pendingTotal_ > uint32_t(kMaxObjectBytes)) return;
        pendingId_ = id, pendingKind_ = kind;
    }
    if (id != pendingId_ || kind != pendingKind_) {
        pending_.clear();
        return;
    }
    pending_ += (continues ? r.Bytes(4, r.size() - 4) : r.Bytes(0, r.size())).toByteArray();
    if (!continues || pending_.size() >= qsizetype(pendingTotal_)) {
        const QByteArray whole = std::exchange(pending_, {});
        StoreObject(id, kind, Reader(whole));
    }
}

void Renderer::StoreObject(uint8_t id, uint32_t kind, const Reader& r) {
    objects_.remove(id);
    if (std::optional<Object> object = DecodeObject(kind, r))
        objects_.insert(id, std::move(*object));
}

// ---- what drawing records refer to ------------------------------------------------

std::optional<Brush> Renderer::BrushFor(uint16_t flags, uint32_t value) const {
    if (flags & kSolidColour) return Brush{QBrush(Argb(value)), {}};
    const auto it = objects_.constFind(uint8_t(value));
    if (it == objects_.cend() || !std::holds_alternative<Brush>(*it)) return std::nullopt;
    return std::get<Brush>(*it);
}

const Pen* Renderer::PenAt(uint32_t id) const {
    const auto it = objects_.constFind(uint8_t(id));
    return it != objects_.cend() ? std::get_if<Pen>(&*it) : nullptr;
}

}  // namespace emf::plus
