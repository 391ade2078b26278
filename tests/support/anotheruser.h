// For a test of what a user may not do: while it lives, files are looked at
// as a user other than root, who may do anything. Root looks as nobody;
// another user already is one. Windows has no such user to become.
#pragma once

class AnotherUser
{
public:
    explicit AnotherUser(bool wanted);
    ~AnotherUser();
    AnotherUser(const AnotherUser &) = delete;
    AnotherUser &operator=(const AnotherUser &) = delete;

    // Files are looked at now as a user other than root.
    bool isOther() const;

private:
    bool switched = false;
};
