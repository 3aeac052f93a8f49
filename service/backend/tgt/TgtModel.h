// TgtModel: what tgtd holds, as this instance knows it, so that a change
// costs only its own requests and no "show" before each one.
//
// The model is read from tgtd's own answer (Load) when the backend starts,
// at a reload and after any request tgtd refused, and otherwise follows
// every request tgtd carried out (Apply). It keeps the targets of this
// instance's name space (TgtLayout.h) in full and, of every other target,
// only its tid, so that new tids never meet one in use.
//
// A target under the name space is this instance's only when every LUN it
// holds has its backing file in this instance's LUN folder: the files are
// the mark tgtd keeps of who made a target. A target whose LUNs lie
// elsewhere was made by another inventory (another state folder of the same
// client name) or by hand; it is foreign and never planned on.
#pragma once

#include "backend/tgt/TgtAdm.h"
#include "backend/tgt/TgtLayout.h"
#include "backend/tgt/TgtShow.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace zoscsi::tgt {

// The tids in use in tgtd; hands out the lowest free one.
class TidPool {
public:
    void Use(int tid) { m_used.insert(tid); }
    void Free(int tid);
    bool InUse(int tid) const { return m_used.count(tid) != 0; }
    // The lowest tid not in use, now in use.
    int Take();

private:
    std::set<int> m_used;
    int m_lowestFree = 1;  // no tid below it is free
};

// A target under this instance's name space that it did not make.
struct ForeignTarget {
    int tid = 0;
    std::string iqn;
    std::string owner;  // where its LUNs' files are: a state folder, or the file itself
};

class TgtModel {
public:
    explicit TgtModel(LayoutNames names) : m_names(std::move(names)) {}

    // Replaces the model with tgtd's answer to "--mode target --op show".
    void Load(const std::vector<TgtTargetState>& shown);
    // Follows a request tgtd carried out.
    void Apply(const TgtCommand& done);

    // This instance's targets in tgtd, each with LUN 0 and its rules; all of
    // them, or those of the names given (absent names are skipped).
    std::vector<TgtTargetState> Owned() const;
    std::vector<TgtTargetState> Owned(const std::vector<std::string>& iqns) const;
    const TgtTargetState* Find(const std::string& iqn) const;
    size_t ownedCount() const { return m_owned.size(); }
    // LUNs (LUN 0 aside) of this instance's targets: what it exports.
    size_t lunCount() const { return m_luns; }

    const std::vector<ForeignTarget>& foreign() const { return m_foreign; }
    const ForeignTarget* FindForeign(const std::string& iqn) const;

    // A copy to plan with: the tids a plan takes are marked in it, not here.
    TidPool tids() const { return m_tids; }

    // The model as lines ("tid name | lun:path:serial ... | acl ..."), sorted:
    // two models that hold the same are equal lines.
    std::vector<std::string> Describe() const;

private:
    bool Ours(const TgtTargetState& target, std::string& owner) const;

    LayoutNames m_names;
    std::map<int, TgtTargetState> m_owned;  // by tid
    std::map<std::string, int> m_tidOf;     // owned target name -> tid
    std::vector<ForeignTarget> m_foreign;
    TidPool m_tids;
    size_t m_luns = 0;
};

}  // namespace zoscsi::tgt
