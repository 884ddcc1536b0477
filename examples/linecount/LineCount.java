package linecount;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Paths;

/**
 * A command-line tool worth a console launcher: counts the lines of the files it is given, relative
 * to the directory it was started in. Exit code 0 when every file was read, 1 when one could not be,
 * 2 for a wrong command line.
 */
public final class LineCount {
    public static void main(String[] args) {
        if (args.length == 0 || args[0].equals("--help") || args[0].equals("/?")) {
            // Asked for, the usage is the output; without arguments it is an error.
            PrintStream out = args.length == 0 ? System.err : System.out;
            out.println("usage: linecount FILE...");
            out.println("Prints the number of lines of each FILE and, for several, their total.");
            System.exit(args.length == 0 ? 2 : 0);
        }
        long total = 0;
        int failed = 0;
        for (String name : args) {
            try (BufferedReader reader = Files.newBufferedReader(Paths.get(name), StandardCharsets.ISO_8859_1)) {
                long lines = reader.lines().count();
                total += lines;
                System.out.printf("%8d %s%n", lines, name);
            } catch (NoSuchFileException e) {
                System.err.println("linecount: " + name + ": no such file");
                failed++;
            } catch (IOException e) {
                System.err.println("linecount: " + name + ": " + e.getMessage());
                failed++;
            }
        }
        if (args.length > 1) {
            System.out.printf("%8d total%n", total);
        }
        System.exit(failed == 0 ? 0 : 1);
    }
}
