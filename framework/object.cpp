// Run-time class records and the class checks built on them.
#include "framework/afx.h"

bool CRuntimeClass::IsDerivedFrom(const CRuntimeClass* base) const {
  if (!base) return false;
  for (const CRuntimeClass* cls = this; cls; cls = cls->m_pBaseClass) {
    if (cls == base) return true;
  }
  return false;
}

const CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), nullptr};

const CRuntimeClass* CObject::GetRuntimeClass() const {
  return &classCObject;
}

bool CObject::IsKindOf(const CRuntimeClass* cls) const {
  return GetRuntimeClass()->IsDerivedFrom(cls);
}
