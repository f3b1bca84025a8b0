// A Go program, as the hook cannot enter one: it makes its own system calls.
// Connects and says what the kernel answered, as probe.c does: "passed"
// (connected, or refused by the peer), "denied" (EPERM), or "error TEXT";
// or connects every 5 ms until it passes, or MS milliseconds went by.
//
//	probe-go connect|until-passed ADDRESS PORT [MS]
package main

import (
	"errors"
	"fmt"
	"net"
	"os"
	"strconv"
	"syscall"
	"time"
)

func attempt(address string) string {
	connection, err := net.DialTimeout("tcp", address, 2*time.Second)
	switch {
	case err == nil:
		connection.Close()
		return "passed"
	case errors.Is(err, syscall.ECONNREFUSED):
		return "passed"
	case errors.Is(err, syscall.EPERM):
		return "denied"
	}
	return "error " + err.Error()
}

func main() {
	if len(os.Args) < 4 {
		os.Exit(2)
	}
	address := net.JoinHostPort(os.Args[2], os.Args[3])
	if os.Args[1] != "until-passed" {
		fmt.Println(attempt(address))
		return
	}
	milliseconds, _ := strconv.Atoi(os.Args[4])
	end := time.Now().Add(time.Duration(milliseconds) * time.Millisecond)
	for time.Now().Before(end) {
		if result := attempt(address); result == "passed" {
			fmt.Println(result)
			return
		}
		time.Sleep(5 * time.Millisecond)
	}
	fmt.Println("timeout")
}
