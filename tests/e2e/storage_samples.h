#ifndef KEVRA_TESTS_E2E_STORAGE_SAMPLES_H
#define KEVRA_TESTS_E2E_STORAGE_SAMPLES_H
// Encrypted client-defined-storage files for the end-to-end runs, which cannot
// encrypt themselves: each ciphertext is the storage-file cipher of its
// plaintext under its secret. The unit tests of the storage file check every
// sample against the module's own cipher, so a sample that no longer matches
// fails there.

namespace storage_samples {

// The task secret the end-to-end runs install (its first line is the key).
inline constexpr char kTaskSecret[] = "e2e-task-secret";

struct Sample {
    const char* name;
    const char* secret;      // the secret line the file was encrypted under
    const char* plaintext;
    const char* ciphertext;  // hexadecimal
};

inline constexpr Sample kLocalDirectory = {
    "LocalDirectory", kTaskSecret, "{\"id\":12,\"method\":{\"local-directory\":\"/var/tmp/kevra-storage\"}}\n",
    "cd21f1e9c0ec788fb956164cb2a7e3e690181f751a34f5d50c186cc693231eb52a5c2c878c647a9fe51d9644b6332fdcc929c63658c0807d"
    "f445d62acbc9c076"};

inline constexpr Sample kDefaultStorage = {"DefaultStorage", kTaskSecret, "{\"id\":7,\"method\":{}}\n",
                                           "cd21f1e9c0ec7e91b7191e5daea0e8a08859192a7c"};

inline constexpr Sample kMalformedJson = {
    "MalformedJson", kTaskSecret, "{\"id\":12,\"method\":{\"local-directory\":\"/var/tmp/kevra-storage\"}\n",
    "cd21f1e9c0ec788fb956164cb2a7e3e690181f751a34f5d50c186cc693231eb52a5c2c878c647a9fe51d9644b6332fdcc929c63658c0807d"
    "f445d62acbc9b7"};

inline constexpr Sample kTooDeep = {
    "TooDeep", kTaskSecret,
    "{\"id\":12,\"method\":{\"local-directory\":\"/var/tmp/kevra-storage\"},\"deep\":[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]}\n",
    "cd21f1e9c0ec788fb956164cb2a7e3e690181f751a34f5d50c186cc693231eb52a5c2c878c647a9fe51d9644b6332fdcc929c63658c0807d"
    "f445d62acbc9915ec5f66b1181b73e5ef0fafbe135b688a309376252ec038847dad543b49843d635ccf38c686957f8746f5d9ef4ae0f70276e"
    "9acfe89687c4b74729c1eecbefdd0acc5376af5747f6141841"};

inline constexpr Sample kOtherSecret = {
    "OtherSecret", "another-task-secret",
    "{\"id\":12,\"method\":{\"local-directory\":\"/var/tmp/kevra-storage\"}}\n",
    "f6c915d1a9ac790ea78d5ed0f2fa078720c7616923cb3a37807158f38a5751bbae173a91a1f222804ded76f98d1c17c4ea8a98c374a78211"
    "e6720587c98636d4"};

inline constexpr const Sample* kAll[] = {&kLocalDirectory, &kDefaultStorage, &kMalformedJson, &kTooDeep,
                                         &kOtherSecret};

}  // namespace storage_samples

#endif
