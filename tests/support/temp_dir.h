// A fresh folder per test (and per `name` within one), removed afterwards.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace test_support {

struct TempDir {
    std::filesystem::path path;
    explicit TempDir(const std::string& name = {})
        : path(std::filesystem::temp_directory_path() /
               ("tavrin-test-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                (name.empty() ? "" : "-" + name))) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

}  // namespace test_support
