// Operation 1: reads the KV70's configuration record and shows it. No wizard page.
#pragma once
#include "framework/afx.h"
#include "operations/operation.h"

class CConfigRetrievalOperation : public COperation {
 public:
  CConfigRetrievalOperation();
  ~CConfigRetrievalOperation() override;

  const char* GetName() override { return m_name; }
  const char* GetDescription() override { return m_description; }
  bool Execute(RunRecord* record) override;  // config_retrieval_execute.cpp
  bool GetText(int index, char* buffer, UINT length) override;

 private:
  CString m_name;
  CString m_description;
};
