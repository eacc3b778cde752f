// The configuration component's interface ("Brenox.dll"), by position.
// Positions 5, 7 and 9 exist but the manager does not use them.
#pragma once

class IConfig {
 public:
  virtual void Open(const char* path, const char* section) = 0;  // 0
  virtual void Apply() = 0;                                      // 1
  virtual bool GetBool(const char* key, bool defaultValue) = 0;  // 2
  virtual int GetInt(const char* key, int defaultValue) = 0;     // 3
  // Valid until the next call on this interface.
  virtual const char* GetString(const char* key, const char* defaultValue) = 0;  // 4
  virtual double GetFloat(const char* key, double defaultValue) = 0;             // 5
  virtual void SetBool(const char* key, bool value) = 0;                         // 6
  virtual void SetInt(const char* key, int value) = 0;                           // 7
  virtual void SetString(const char* key, const char* value) = 0;                // 8
  virtual void SetFloat(const char* key, double value) = 0;                      // 9
  virtual void DefaultBool(const char* key, bool value) = 0;                     // 10
  virtual void DefaultInt(const char* key, int value) = 0;                       // 11
  virtual void DefaultString(const char* key, const char* value) = 0;            // 12

 protected:
  ~IConfig() = default;
};

class ILog;

extern "C" {
typedef IConfig* (*CreateConfigFunc)();
typedef void (*FreeConfigFunc)(IConfig*);
// Optional export "SetConfigLog": hands the component the way to the manager's log object,
// so that what it finds wrong in the file reaches the manager's log and not only standard
// error. The function is called only when there is something to write, so the log
// component is not loaded any earlier for it. A component without the export writes to
// standard error alone.
typedef ILog* (*ConfigLogFunc)();
typedef void (*SetConfigLogFunc)(ConfigLogFunc getLog);
}
