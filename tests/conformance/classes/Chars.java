public class Chars {
    public static void main(String[] args) {
        for (String s : args) {
            StringBuilder line = new StringBuilder("length " + s.length() + ":");
            for (int i = 0; i < s.length(); i += Character.charCount(s.codePointAt(i)))
                line.append(' ').append(Integer.toHexString(s.codePointAt(i)));
            System.out.println(line);
        }
    }
}
