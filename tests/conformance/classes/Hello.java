public class Hello {
    public static void main(String[] args) {
        System.out.println("hello out");
        System.err.println("hello err");
    }
}
