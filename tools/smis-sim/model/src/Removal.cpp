// Objects removed as an administrator removes them on the array itself, outside the
// CIM interface: what depends on an object goes with it, as the array does it.
#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "ProviderImpl.h"
#include "Text.h"

namespace sim {

namespace {

template <class T, class Pred>
void eraseIf(std::vector<T>& v, Pred pred) {
    v.erase(std::remove_if(v.begin(), v.end(), pred), v.end());
}

// One array's removals; `removed` lists what went, dependents after what they hang on.
class Remover {
  public:
    explicit Remover(Array& a) : m_a(a) {}

    std::vector<std::string> removed;

    void volume(const std::string& uuid) {
        const Volume* v = m_a.findVolume(uuid);
        if (!v) return;
        const std::string label = v->label;
        const bool isView = v->kind == VolumeKind::PiTView;
        removed.push_back("volume " + label + " (" + uuid + ")");

        // The volume's own snapshots: PiT groups, CG member views and legacy
        // snapshot volumes live on it and go with it; a clone stays, without its copy.
        std::vector<std::string> groups, memberViews, snapshots;
        for (const PiTGroup& g : m_a.pitGroups)
            if (g.baseVolume == uuid) groups.push_back(g.ref);
        for (const View& w : m_a.views)
            if (w.base == uuid && w.volume != uuid) memberViews.push_back(w.volume);
        for (const Sync& s : m_a.syncs)
            if (s.source == uuid && s.type == SyncType::Snapshot) snapshots.push_back(s.target);
        for (const std::string& g : groups) pitGroup(g);
        for (const std::string& w : memberViews) volume(w);
        for (const std::string& s : snapshots) volume(s);

        for (ConsistencyGroup& g : m_a.consistencyGroups)
            eraseIf(g.members, [&](const std::string& m) { return m == uuid; });
        // A CG PiT's image of this member goes with the volume.
        for (CgPiT& p : m_a.cgPits)
            eraseIf(p.members, [&](const CgPiTMember& m) { return m.volume == uuid; });
        eraseIf(m_a.syncs, [&](const Sync& s) { return s.source == uuid || s.target == uuid; });
        mappingsOf(uuid);
        if (isView) {
            eraseIf(m_a.views, [&](const View& w) { return w.volume == uuid; });
            std::vector<std::string> emptied;
            for (CgPiTView& cv : m_a.cgPitViews) {
                eraseIf(cv.memberViews, [&](const std::string& m) { return m == uuid; });
                if (cv.memberViews.empty()) emptied.push_back(cv.ref);
            }
            for (const std::string& cv : emptied) cgView(cv);
        }
        eraseIf(m_a.volumes, [&](const Volume& x) { return x.uuid == uuid; });
    }

    void mappingsOf(const std::string& uuid) {
        const size_t before = m_a.mappings.size();
        eraseIf(m_a.mappings, [&](const Mapping& m) { return m.volume == uuid; });
        if (m_a.mappings.size() != before) removed.push_back("mapping of " + uuid);
    }

    void pit(const std::string& id) {
        std::vector<std::string> views;
        for (const View& w : m_a.views)
            if (w.pit == id) views.push_back(w.volume);
        for (const std::string& w : views) volume(w);
        eraseIf(m_a.pits, [&](const PiT& p) { return p.id == id; });
        removed.push_back("PiT " + id);
    }

    void cgPit(const std::string& id) {
        std::vector<std::string> views;
        for (const CgPiTView& cv : m_a.cgPitViews)
            if (cv.cgPit == id) views.push_back(cv.ref);
        for (const std::string& cv : views) cgView(cv);
        eraseIf(m_a.cgPits, [&](const CgPiT& p) { return p.id == id; });
        removed.push_back("consistency group PiT " + id);
    }

    void cgView(const std::string& ref) {
        auto it = std::find_if(m_a.cgPitViews.begin(), m_a.cgPitViews.end(),
                               [&](const CgPiTView& cv) { return cv.ref == ref; });
        if (it == m_a.cgPitViews.end()) return;
        const std::vector<std::string> members = it->memberViews;
        removed.push_back("consistency group view " + it->label + " (" + ref + ")");
        // Erased first, so that removing its last member does not come back here.
        m_a.cgPitViews.erase(it);
        for (const std::string& w : members) volume(w);
    }

    void pitGroup(const std::string& ref) {
        auto it = std::find_if(m_a.pitGroups.begin(), m_a.pitGroups.end(),
                               [&](const PiTGroup& g) { return g.ref == ref; });
        if (it == m_a.pitGroups.end()) return;
        removed.push_back("PiT group " + it->label + " (" + ref + ")");
        std::vector<std::string> pits;
        for (const PiT& p : m_a.pits)
            if (p.group == ref) pits.push_back(p.id);
        for (const std::string& p : pits) pit(p);
        eraseIf(m_a.pitGroups, [&](const PiTGroup& g) { return g.ref == ref; });
    }

    void consistencyGroup(const std::string& ref) {
        auto it = std::find_if(m_a.consistencyGroups.begin(), m_a.consistencyGroups.end(),
                               [&](const ConsistencyGroup& g) { return g.ref == ref; });
        if (it == m_a.consistencyGroups.end()) return;
        removed.push_back("consistency group " + it->label + " (" + ref + ")");
        std::vector<std::string> pits;
        for (const CgPiT& p : m_a.cgPits)
            if (p.group == ref) pits.push_back(p.id);
        for (const std::string& p : pits) cgPit(p);
        eraseIf(m_a.consistencyGroups, [&](const ConsistencyGroup& g) { return g.ref == ref; });
    }

  private:
    Array& m_a;
};

// Finds the object `id` names on one array; false when it is not there.
bool removeNamed(Array& a, RemovableKind kind, const std::string& id,
                 std::vector<std::string>& removed) {
    Remover r(a);
    auto volumeNamed = [&](bool viewsOnly) -> const Volume* {
        const Volume* v = a.findVolume(id);
        if (!v) v = a.findVolumeByLabel(id);
        if (v && viewsOnly && v->kind != VolumeKind::PiTView) return nullptr;
        return v;
    };
    switch (kind) {
        case RemovableKind::Volume:
        case RemovableKind::PiTView: {
            const bool views = kind == RemovableKind::PiTView;
            if (const Volume* v = volumeNamed(views)) {
                r.volume(std::string(v->uuid));
                break;
            }
            if (!views) return false;
            for (const CgPiTView& cv : a.cgPitViews)
                if (cv.ref == id || equalsNoCase(cv.label, id)) {
                    r.cgView(std::string(cv.ref));
                    removed = r.removed;
                    return true;
                }
            return false;
        }
        case RemovableKind::Mapping: {
            const Volume* v = volumeNamed(false);
            if (!v || !a.findMapping(v->uuid)) return false;
            r.mappingsOf(std::string(v->uuid));
            break;
        }
        case RemovableKind::PiT: {
            for (const PiT& p : a.pits)
                if (p.id == id) {
                    r.pit(id);
                    removed = r.removed;
                    return true;
                }
            for (const CgPiT& p : a.cgPits)
                if (p.id == id) {
                    r.cgPit(id);
                    removed = r.removed;
                    return true;
                }
            return false;
        }
        case RemovableKind::PiTGroup: {
            const PiTGroup* g = nullptr;
            for (const PiTGroup& x : a.pitGroups)
                if (x.ref == id || equalsNoCase(x.label, id)) g = &x;
            if (!g) return false;
            r.pitGroup(std::string(g->ref));
            break;
        }
        case RemovableKind::ConsistencyGroup: {
            const ConsistencyGroup* g = nullptr;
            for (const ConsistencyGroup& x : a.consistencyGroups)
                if (x.ref == id || equalsNoCase(x.label, id)) g = &x;
            if (!g) return false;
            r.consistencyGroup(std::string(g->ref));
            break;
        }
    }
    removed = r.removed;
    return true;
}

bool removeFrom(Array& a, RemovableKind kind, const std::string& id,
                std::vector<std::string>& removed) {
    if (!removeNamed(a, kind, id, removed)) return false;
    a.reindex();
    return true;
}

}  // namespace

const char* removableKindName(RemovableKind kind) {
    switch (kind) {
        case RemovableKind::Volume:
            return "volume";
        case RemovableKind::PiT:
            return "pit";
        case RemovableKind::PiTView:
            return "pitView";
        case RemovableKind::PiTGroup:
            return "pitGroup";
        case RemovableKind::ConsistencyGroup:
            return "consistencyGroup";
        case RemovableKind::Mapping:
            return "mapping";
    }
    return "unknown";
}

RemovableKind removableKindFromName(const std::string& name) {
    for (RemovableKind k :
         {RemovableKind::Volume, RemovableKind::PiT, RemovableKind::PiTView,
          RemovableKind::PiTGroup, RemovableKind::ConsistencyGroup, RemovableKind::Mapping})
        if (equalsNoCase(name, removableKindName(k))) return k;
    throw std::invalid_argument("\"" + printable(name) +
                                "\" is not volume, pit, pitView, pitGroup, consistencyGroup "
                                "or mapping");
}

std::vector<std::string> Provider::removeObject(RemovableKind kind, const std::string& id,
                                                const std::string& array) {
    std::unique_lock<FairSharedMutex> lock(m_impl->mutex);
    bool arrayFound = array.empty();
    for (Array& a : m_impl->arrays) {
        if (!array.empty() && a.id != array && !equalsNoCase(a.name, array)) continue;
        arrayFound = true;
        std::vector<std::string> removed;
        if (removeFrom(a, kind, id, removed)) {
            m_impl->changed();
            return removed;
        }
    }
    if (!arrayFound) throw std::invalid_argument("no array \"" + printable(array) + "\"");
    throw std::invalid_argument(std::string("no ") + removableKindName(kind) + " \"" +
                                printable(id) + "\"");
}

}  // namespace sim
